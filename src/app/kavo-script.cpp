// Runs one user script for kavo and kavo-list, which start it, hand it its job over descriptor 3
// and kill it at its deadline. Not meant to be started by hand.
#include "script/ScriptHost.h"

int main()
{
    return kavo::ScriptHostMain(3);
}
