#include "net/PcrawIndexSource.h"

#include "core/TkavoYpItem.h"
#include "net/Pcraw.h"

namespace kavo {

FetchedIndex PcrawIndexSource::Fetch(const YpRecord& yp)
{
    try {
        return {m_library.Read(yp.PCRawHandle)};
    } catch (const PcrawError& failure) {
        throw RetrievalFailure(failure.what());
    }
}

} // namespace kavo
