#include "script/ScriptEngine.h"

#include "platform/Cp932.h"
#include "platform/ThreadDeadline.h"
#include "platform/Utf8.h"

#include <duktape.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <stdexcept>

namespace kavo {

// ---------------------------------------------------------------------------------------------
// Text across the boundary. Duktape keeps strings as CESU-8 (characters beyond U+FFFF are two
// encoded surrogates); our side uses UTF-8 or CP932.

namespace script_text {

constexpr char32_t kReplacement = 0xFFFD;

std::string SanitizeUtf8(std::string_view text)
{
    if (IsValidUtf8(text))
        return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t pos = 0, len = 0; pos < text.size(); pos += len) {
        const char32_t cp = DecodeUtf8At(text, pos, len);
        AppendUtf8(out, cp == InvalidUtf8 ? kReplacement : cp);
    }
    return out;
}

std::string DecodeGuessing(std::string_view bytes)
{
    const std::string_view body = StripUtf8Bom(bytes);
    if (body.size() != bytes.size() || IsValidUtf8(body))
        return SanitizeUtf8(body);
    return Cp932ToUtf8(bytes);
}

std::size_t PrefixBytes(std::string_view text, std::size_t count, ScriptText encoding)
{
    std::size_t pos = 0;
    for (; count > 0 && pos < text.size(); --count) {
        if (encoding == ScriptText::Cp932) {
            pos += Cp932CharLength(text, pos);
        } else {
            std::size_t len = 0;
            DecodeUtf8At(text, pos, len);
            pos += len;
        }
    }
    return pos;
}

std::size_t CharCount(std::string_view text, ScriptText encoding)
{
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); ++count)
        pos += PrefixBytes(text.substr(pos), 1, encoding);
    return count;
}

} // namespace script_text

namespace {

using namespace script_text;

// Valid UTF-8 to Duktape's form.
std::string Utf8ToCesu(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size() + 8);
    for (std::size_t pos = 0, len = 0; pos < utf8.size(); pos += len) {
        const char32_t cp = DecodeUtf8At(utf8, pos, len);
        if (cp == InvalidUtf8) {
            AppendUtf8(out, kReplacement);
        } else if (cp >= 0x10000) {
            AppendUtf8(out, 0xD800 + ((cp - 0x10000) >> 10));
            AppendUtf8(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out.append(utf8.substr(pos, len));
        }
    }
    return out;
}

// Duktape's form to valid UTF-8: surrogate pairs joined, lone surrogates and stray bytes as U+FFFD.
std::string CesuToUtf8(std::string_view cesu)
{
    std::string out;
    out.reserve(cesu.size());
    for (std::size_t pos = 0, len = 0; pos < cesu.size(); pos += len) {
        char32_t cp = DecodeUtf8At(cesu, pos, len, true);
        if (cp >= 0xD800 && cp <= 0xDBFF && pos + len < cesu.size()) {
            std::size_t len2 = 0;
            const char32_t low = DecodeUtf8At(cesu, pos + len, len2, true);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                len += len2;
            }
        }
        if (cp == InvalidUtf8 || (cp >= 0xD800 && cp <= 0xDFFF))
            cp = kReplacement;
        AppendUtf8(out, cp);
    }
    return out;
}

std::string ToScript(std::string_view bytes, ScriptText encoding)
{
    return Utf8ToCesu(encoding == ScriptText::Utf8 ? SanitizeUtf8(bytes) : Cp932ToUtf8(bytes));
}

std::string FromScript(std::string_view cesu, ScriptText encoding)
{
    std::string utf8 = CesuToUtf8(cesu);
    return encoding == ScriptText::Utf8 ? utf8 : Utf8ToCp932(utf8);
}

std::string ReadFile(const std::string& path, bool& ok)
{
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    if (!ok)
        return {};
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ok = !in.bad();
    return bytes;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Run control: shared by the running script (its thread) and Abort() (any thread).

struct ScriptEngine::Control
{
    std::atomic<bool> AbortRequested{false};
    std::atomic<bool> TimedOut{false};
    bool HasDeadline = false;
    std::chrono::steady_clock::time_point Deadline;
    std::mutex SleepMutex;
    std::condition_variable SleepWake;

    // Stays true once it has turned true, as Duktape requires while the error bubbles up.
    bool StopNow()
    {
        if (AbortRequested.load())
            return true;
        if (TimedOut.load())
            return true;
        if (HasDeadline && std::chrono::steady_clock::now() >= Deadline) {
            TimedOut = true;
            return true;
        }
        return false;
    }
};

struct ScriptEngine::Heap
{
    ScriptEngine* Owner = nullptr;
    Control* RunControl = nullptr;
    duk_context* Ctx = nullptr;
    std::size_t Used = 0;
    std::size_t Limit = 0;
};

namespace {

// Each block carries its size so the heap's total can be kept against its ceiling.
constexpr std::size_t kBlockHeader = alignof(std::max_align_t);

void* HeapAlloc(void* udata, duk_size_t size)
{
    auto* heap = static_cast<ScriptEngine::Heap*>(udata);
    if (size > heap->Limit - heap->Used)
        return nullptr;
    auto* block = static_cast<char*>(std::malloc(size + kBlockHeader));
    if (!block)
        return nullptr;
    std::memcpy(block, &size, sizeof size);
    heap->Used += size;
    return block + kBlockHeader;
}

void HeapFree(void* udata, void* ptr)
{
    if (!ptr)
        return;
    auto* heap = static_cast<ScriptEngine::Heap*>(udata);
    char* block = static_cast<char*>(ptr) - kBlockHeader;
    std::size_t size;
    std::memcpy(&size, block, sizeof size);
    heap->Used -= size;
    std::free(block);
}

void* HeapRealloc(void* udata, void* ptr, duk_size_t size)
{
    if (!ptr)
        return HeapAlloc(udata, size);
    if (size == 0) {
        HeapFree(udata, ptr);
        return nullptr;
    }
    auto* heap = static_cast<ScriptEngine::Heap*>(udata);
    char* block = static_cast<char*>(ptr) - kBlockHeader;
    std::size_t old;
    std::memcpy(&old, block, sizeof old);
    if (size > old && size - old > heap->Limit - heap->Used)
        return nullptr;
    auto* grown = static_cast<char*>(std::realloc(block, size + kBlockHeader));
    if (!grown)
        return nullptr;
    std::memcpy(grown, &size, sizeof size);
    heap->Used = heap->Used - old + size;
    return grown + kBlockHeader;
}

// A hidden symbol: the script can neither see nor replace its own main program.
constexpr const char* kMainKey = "\xff"
                                 "main";

std::string SecondsText(std::chrono::milliseconds limit)
{
    const auto ms = limit.count();
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000 != 0) {
        std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
        while (fraction.back() == '0')
            fraction.pop_back();
        text += "." + fraction;
    }
    return text;
}

ScriptEngine::Heap* HeapOf(duk_context* ctx)
{
    duk_memory_functions functions;
    duk_get_memory_functions(ctx, &functions);
    return static_cast<ScriptEngine::Heap*>(functions.udata);
}

} // namespace

} // namespace kavo

// Called by the interpreter every few hundred thousand instructions.
extern "C" int kavo_duk_exec_timeout_check(void* udata)
{
    auto* heap = static_cast<kavo::ScriptEngine::Heap*>(udata);
    if (!heap || !heap->RunControl || !heap->RunControl->StopNow())
        return 0;
    // The timeout error is an ordinary one that a try block could catch, again and again. Past the
    // limit nothing may be allocated any more, so a catch clause cannot even bind the error and
    // the error leaves every try block.
    heap->Limit = 0;
    return 1;
}

namespace kavo {

// ---------------------------------------------------------------------------------------------
// The functions a script can call. Errors are thrown with duk_error, which unwinds as a C++
// exception in this build, so locals here are destroyed properly.

struct ScriptNatives
{
    static ScriptEngine& Engine(duk_context* ctx) { return *HeapOf(ctx)->Owner; }

    // Without a C file name the error names the script's line, not ours.
    [[noreturn]] static void Throw(duk_context* ctx, duk_errcode_t code, const std::string& message)
    {
        duk_error_raw(ctx, code, nullptr, 0, "%s", message.c_str());
        std::abort(); // not reached: the call throws, but its declaration does not say so in this build
    }

    // The arguments as texts separated by one blank, in Duktape's form.
    static std::string JoinArgs(duk_context* ctx)
    {
        std::string text;
        const duk_idx_t count = duk_get_top(ctx);
        for (duk_idx_t i = 0; i < count; ++i) {
            if (i > 0)
                text += ' ';
            duk_size_t len = 0;
            const char* s = duk_to_lstring(ctx, i, &len);
            text.append(s, len);
        }
        return text;
    }

    // A run past its limit or aborted stops at the next call of ours, even inside a try block that
    // caught the interpreter's own timeout error.
    static void StopIfOver(duk_context* ctx)
    {
        if (!kavo_duk_exec_timeout_check(HeapOf(ctx)))
            return;
        // A plain value: an error object could not be made any more, and the failed attempt
        // would cost a garbage collection at every turn of a loop that catches it.
        duk_push_null(ctx);
        duk_throw(ctx);
    }

    static duk_ret_t Write(duk_context* ctx, bool toStderr, bool lineBreak)
    {
        StopIfOver(ctx);
        ScriptEngine& engine = Engine(ctx);
        std::string text = JoinArgs(ctx);
        if (lineBreak)
            text += "\r\n";
        const auto& hook = toStderr ? engine.m_stderr : engine.m_stdout;
        if (hook)
            hook(FromScript(text, engine.m_encoding));
        return 0;
    }

    static duk_ret_t Print(duk_context* ctx) { return Write(ctx, false, false); }
    static duk_ret_t Println(duk_context* ctx) { return Write(ctx, false, true); }
    static duk_ret_t StderrWrite(duk_context* ctx) { return Write(ctx, true, false); }
    static duk_ret_t StderrWriteln(duk_context* ctx) { return Write(ctx, true, true); }

    static duk_ret_t Read(duk_context* ctx, bool line, int count)
    {
        StopIfOver(ctx);
        ScriptEngine& engine = Engine(ctx);
        std::string text;
        if (!engine.m_stdin || !engine.m_stdin(text, count, line)) {
            duk_push_null(ctx);
            return 1;
        }
        const std::string cesu = ToScript(text, engine.m_encoding);
        duk_push_lstring(ctx, cesu.data(), cesu.size());
        return 1;
    }

    static duk_ret_t Readln(duk_context* ctx) { return Read(ctx, true, 0); }

    static duk_ret_t ReadCount(duk_context* ctx)
    {
        const double n = duk_get_top(ctx) > 0 ? duk_to_number(ctx, 0) : 0;
        int count = 0;
        if (n >= static_cast<double>(std::numeric_limits<int>::max()))
            count = std::numeric_limits<int>::max();
        else if (n >= 1)
            count = static_cast<int>(n);
        return Read(ctx, false, count);
    }

    static duk_ret_t HttpGet(duk_context* ctx)
    {
        ScriptEngine& engine = Engine(ctx);
        duk_size_t len = 0;
        const char* url = duk_to_lstring(ctx, 0, &len);
        if (!engine.m_fetch)
            Throw(ctx, DUK_ERR_ERROR, "http.get: no HTTP client");
        StopIfOver(ctx);
        std::string body;
        try {
            body = engine.m_fetch(CesuToUtf8(std::string_view(url, len)));
        } catch (const std::exception& e) {
            StopIfOver(ctx);
            Throw(ctx, DUK_ERR_ERROR, Utf8ToCesu(DecodeGuessing(e.what())));
        }
        StopIfOver(ctx);
        const std::string cesu = Utf8ToCesu(DecodeGuessing(body));
        duk_push_lstring(ctx, cesu.data(), cesu.size());
        return 1;
    }

    static duk_ret_t Sleep(duk_context* ctx)
    {
        StopIfOver(ctx);
        ScriptEngine::Control& control = *Engine(ctx).m_control;
        const double ms = duk_to_number(ctx, 0);
        if (std::isnan(ms) || ms <= 0)
            return 0;
        // Capped at a day so the time point cannot overflow; the deadline usually comes first.
        auto until = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(static_cast<long long>(std::min(ms, 86400000.0)));
        if (control.HasDeadline && control.Deadline < until)
            until = control.Deadline;
        {
            std::unique_lock lock(control.SleepMutex);
            control.SleepWake.wait_until(lock, until, [&] { return control.AbortRequested.load(); });
        }
        StopIfOver(ctx);
        return 0;
    }

    // The main program with `args` set; protected so that running out of memory while building
    // the arguments is an error of the run, not of the process.
    static duk_ret_t RunMain(duk_context* ctx, void* udata)
    {
        const auto& args = *static_cast<const std::vector<std::string>*>(udata);
        duk_push_array(ctx);
        for (duk_uarridx_t i = 0; i < args.size(); ++i) {
            const std::string text = ToScript(args[i], ScriptText::Cp932);
            duk_push_lstring(ctx, text.data(), text.size());
            duk_put_prop_index(ctx, -2, i);
        }
        duk_put_global_string(ctx, "args");
        duk_get_global_string(ctx, kMainKey);
        duk_call(ctx, 0);
        return 1;
    }

    static duk_ret_t Install(duk_context* ctx, void*)
    {
        static const duk_function_list_entry globals[] = {
            {"print", Print, DUK_VARARGS},
            {"println", Println, DUK_VARARGS},
            {"sleep", Sleep, 1},
            {nullptr, nullptr, 0},
        };
        static const duk_function_list_entry out[] = {
            {"write", Print, DUK_VARARGS},
            {"writeln", Println, DUK_VARARGS},
            {nullptr, nullptr, 0},
        };
        static const duk_function_list_entry err[] = {
            {"write", StderrWrite, DUK_VARARGS},
            {"writeln", StderrWriteln, DUK_VARARGS},
            {nullptr, nullptr, 0},
        };
        static const duk_function_list_entry in[] = {
            {"readln", Readln, 0},
            {"read", ReadCount, 1},
            {nullptr, nullptr, 0},
        };
        static const duk_function_list_entry http[] = {
            {"get", HttpGet, 1},
            {nullptr, nullptr, 0},
        };
        duk_push_global_object(ctx);
        duk_put_function_list(ctx, -1, globals);
        const std::pair<const char*, const duk_function_list_entry*> objects[] = {
            {"stdout", out}, {"stderr", err}, {"stdin", in}, {"http", http}};
        for (const auto& [name, functions] : objects) {
            duk_push_object(ctx);
            duk_put_function_list(ctx, -1, functions);
            duk_put_prop_string(ctx, -2, name);
        }
        duk_pop(ctx);
        return 0;
    }
};

namespace {

// Line and text of the error value on top of the stack, the text in CP932.
ScriptStatus ErrorStatus(duk_context* ctx, ScriptStatus::Kind kind)
{
    ScriptStatus status;
    status.Result = kind;
    if (duk_is_error(ctx, -1)) {
        duk_get_prop_string(ctx, -1, "lineNumber");
        status.Line = duk_is_number(ctx, -1) ? duk_get_int(ctx, -1) : 0;
        duk_pop(ctx);
    }
    duk_size_t len = 0;
    const char* text = duk_safe_to_lstring(ctx, -1, &len);
    status.Message = Utf8ToCp932(CesuToUtf8(std::string_view(text, len)));
    return status;
}

} // namespace

// ---------------------------------------------------------------------------------------------

ScriptEngine::ScriptEngine() : m_control(std::make_unique<Control>())
{
    Reset();
}

ScriptEngine::~ScriptEngine()
{
    Abort();
    {
        std::unique_lock lock(m_stateMutex);
        m_idle.wait(lock, [&] { return !m_busy.load(); });
    }
    joinThread();
    destroyHeap();
}

void ScriptEngine::SetMemoryLimit(std::size_t bytes)
{
    m_memoryLimit = bytes;
    if (m_heap)
        m_heap->Limit = std::max(bytes, m_heap->Used);
}

void ScriptEngine::destroyHeap()
{
    if (m_heap && m_heap->Ctx)
        duk_destroy_heap(m_heap->Ctx);
    m_heap.reset();
}

bool ScriptEngine::Reset()
{
    if (m_busy.load())
        return false;
    joinThread();
    destroyHeap();
    m_compiled = false;
    auto heap = std::make_unique<Heap>();
    heap->Owner = this;
    heap->RunControl = m_control.get();
    heap->Limit = m_memoryLimit;
    heap->Ctx = duk_create_heap(HeapAlloc, HeapRealloc, HeapFree, heap.get(), nullptr);
    if (!heap->Ctx)
        throw std::runtime_error("script engine: cannot create a heap");
    m_heap = std::move(heap);
    if (duk_safe_call(m_heap->Ctx, ScriptNatives::Install, nullptr, 0, 1) != DUK_EXEC_SUCCESS)
        throw std::runtime_error("script engine: cannot set up a heap");
    duk_pop(m_heap->Ctx);
    return true;
}

ScriptStatus ScriptEngine::Compile(const std::string& path)
{
    if (m_busy.load())
        return {ScriptStatus::Busy, 0, Sjis("スクリプト実行中")};
    duk_context* ctx = m_heap->Ctx;
    bool ok = false;
    const std::string bytes = ReadFile(path, ok);
    if (!ok) {
        ScriptStatus status{ScriptStatus::FileError, 0, Sjis("ファイルを読めません: ") + Utf8ToCp932(path)};
        if (m_error)
            m_error(0, status.Message);
        return status;
    }
    const std::string source = Utf8ToCesu(DecodeGuessing(bytes));
    const std::string fileName = Utf8ToCesu(SanitizeUtf8(path));
    duk_push_lstring(ctx, fileName.data(), fileName.size());
    if (duk_pcompile_lstring_filename(ctx, 0, source.data(), source.size()) != 0) {
        ScriptStatus status = ErrorStatus(ctx, ScriptStatus::SyntaxError);
        duk_pop(ctx);
        m_compiled = false;
        if (m_error)
            m_error(status.Line, status.Message);
        return status;
    }
    duk_put_global_string(ctx, kMainKey);
    m_compiled = true;
    return {};
}

bool ScriptEngine::beginRun()
{
    std::lock_guard lock(m_stateMutex);
    if (m_busy.load())
        return false;
    m_control->AbortRequested = false;
    m_control->TimedOut = false;
    m_busy = true;
    return true;
}

void ScriptEngine::endRun(const ScriptStatus* status)
{
    {
        std::lock_guard lock(m_stateMutex);
        if (status)
            m_lastRun = *status;
        m_busy = false;
    }
    m_idle.notify_all();
}

ScriptStatus ScriptEngine::Run(const std::vector<std::string>& args)
{
    if (!m_compiled)
        return {ScriptStatus::NotCompiled, 0, Sjis("スクリプトがコンパイルされていません")};
    if (!beginRun())
        return {ScriptStatus::Busy, 0, Sjis("スクリプト実行中")};
    ScriptStatus status = runBody(args);
    endRun(nullptr);
    return status;
}

bool ScriptEngine::Start(std::vector<std::string> args)
{
    if (!m_compiled || m_busy.load())
        return false;
    joinThread();
    if (!beginRun())
        return false;
    m_thread = std::thread([this, args = std::move(args)] {
        const ScriptStatus status = runBody(args);
        endRun(&status);
    });
    return true;
}

ScriptStatus ScriptEngine::runBody(const std::vector<std::string>& args)
{
    Control& control = *m_control;
    m_heap->Limit = m_memoryLimit; // a run before may have ended past its limit
    control.HasDeadline = m_timeLimit.count() > 0;
    if (control.HasDeadline)
        control.Deadline = std::chrono::steady_clock::now() + m_timeLimit;

    duk_context* ctx = m_heap->Ctx;
    ScriptStatus status;
    // Requests the script makes (http.get) end by its deadline as well.
    const ScopedThreadDeadline requests(control.HasDeadline ? std::optional(control.Deadline) : std::nullopt);
    if (duk_safe_call(ctx, ScriptNatives::RunMain, const_cast<std::vector<std::string>*>(&args), 0, 1) !=
        DUK_EXEC_SUCCESS)
        status = ErrorStatus(ctx, ScriptStatus::RuntimeError);
    duk_pop(ctx);
    if (status.Result == ScriptStatus::RuntimeError) {
        if (control.AbortRequested.load()) {
            status.Result = ScriptStatus::Aborted;
            status.Message = Sjis("スクリプトは中断されました");
        } else if (control.TimedOut.load()) {
            status.Result = ScriptStatus::TimedOut;
            status.Message = Sjis("スクリプトの実行が制限時間(") + SecondsText(m_timeLimit) + Sjis("秒)を超えました");
        }
        if (m_error)
            m_error(status.Line, status.Message);
    }
    control.HasDeadline = false;
    return status;
}

bool ScriptEngine::Wait(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_stateMutex);
    return m_idle.wait_for(lock, timeout, [&] { return !m_busy.load(); });
}

ScriptStatus ScriptEngine::LastRun() const
{
    std::lock_guard lock(m_stateMutex);
    return m_lastRun;
}

void ScriptEngine::Abort()
{
    std::lock_guard lock(m_stateMutex);
    if (!m_busy.load())
        return;
    {
        std::lock_guard sleepLock(m_control->SleepMutex);
        m_control->AbortRequested = true;
    }
    m_control->SleepWake.notify_all();
}

void ScriptEngine::joinThread()
{
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace kavo
