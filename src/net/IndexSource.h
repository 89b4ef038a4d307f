#pragma once

#include <stdexcept>
#include <string>

namespace kavo {

struct YpRecord;

// A failure to obtain a YP's index; the message follows "詳細：" in the YP's error text.
class RetrievalFailure : public std::runtime_error
{
public:
    explicit RetrievalFailure(const std::string& message, long httpStatus = 0)
        : std::runtime_error(message), m_httpStatus(httpStatus)
    {}
    // The status of the HTTP answer that failed; 0 without one.
    long HttpStatus() const { return m_httpStatus; }

private:
    long m_httpStatus;
};

// A YP's index as its source delivered it, before it is converted and parsed.
struct FetchedIndex
{
    std::string Text;
    long HttpStatus = 0; // 0 without an HTTP answer
    // The server closed the connection before the answer was complete: there is no index this
    // time, and that is no error.
    bool ClosedEarly = false;
};

// Where a YP's index comes from in one turn of a refresh: its index.txt over HTTP, its retrieval
// script, or its PCRaw index channel. The refresh picks one for each YP and turn; the worker calls
// it.
class IndexSource
{
public:
    virtual ~IndexSource() = default;
    // Throws RetrievalFailure.
    virtual FetchedIndex Fetch(const YpRecord& yp) = 0;

protected:
    IndexSource() = default;
    IndexSource(const IndexSource&) = default;
    IndexSource& operator=(const IndexSource&) = default;
};

} // namespace kavo
