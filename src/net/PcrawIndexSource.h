#pragma once

#include "net/IndexSource.h"

namespace kavo {

class PcrawLibrary;

// The data of the YP's open PCRaw index channel, once the channel has delivered any.
class PcrawIndexSource final : public IndexSource
{
public:
    explicit PcrawIndexSource(PcrawLibrary& library) : m_library(library) {}

    FetchedIndex Fetch(const YpRecord& yp) override;

private:
    PcrawLibrary& m_library;
};

} // namespace kavo
