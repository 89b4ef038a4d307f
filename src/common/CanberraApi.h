#pragma once

#include "platform/LazyLibrary.h"

#include <canberra.h>

namespace kavo {

// The functions of libcanberra that the sound players call.
struct CanberraApi
{
    decltype(&::ca_context_create) context_create;
    decltype(&::ca_context_change_props) context_change_props;
    decltype(&::ca_context_destroy) context_destroy;
    decltype(&::ca_context_cancel) context_cancel;
    decltype(&::ca_context_play) context_play;
    decltype(&::ca_context_play_full) context_play_full;
    decltype(&::ca_proplist_create) proplist_create;
    decltype(&::ca_proplist_sets) proplist_sets;
    decltype(&::ca_proplist_destroy) proplist_destroy;

    bool Bind(const DynamicLibrary& library, std::string& error)
    {
        return BindFunction(library, "ca_context_create", context_create, error) &&
               BindFunction(library, "ca_context_change_props", context_change_props, error) &&
               BindFunction(library, "ca_context_destroy", context_destroy, error) &&
               BindFunction(library, "ca_context_cancel", context_cancel, error) &&
               BindFunction(library, "ca_context_play", context_play, error) &&
               BindFunction(library, "ca_context_play_full", context_play_full, error) &&
               BindFunction(library, "ca_proplist_create", proplist_create, error) &&
               BindFunction(library, "ca_proplist_sets", proplist_sets, error) &&
               BindFunction(library, "ca_proplist_destroy", proplist_destroy, error);
    }
};

// libcanberra, loaded when the first sound is played; null when it cannot be loaded. Every context
// comes from CreateSoundContext, so code holding one may take the functions as given.
const CanberraApi* Canberra();

} // namespace kavo
