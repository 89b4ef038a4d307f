#pragma once

#include "core/Color.h"
#include "platform/IntegerText.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kavo {

// A settings file that could not be written, or could not be read back before a write (writing
// then would lose what other parts of the program keep in it). what() is the CP932 text
// "<path> に書き込めません" that the program shows to the user.
class IniWriteError : public std::runtime_error
{
public:
    IniWriteError(const std::string& path, int error);
    const std::string& Path() const { return m_path; }
    int Error() const { return m_error; } // errno of the refused step

private:
    std::string m_path;
    int m_error;
};

// The image of a Windows profile file. Section and key names match without regard to ASCII case
// (the bytes of a double-byte character are never folded); the first section of a name and the
// first key of a name in it win; a value is the text after the first "=" without surrounding
// blanks. Bytes are never converted. Every line that is not written stays as it was, in its
// place; the text is written with CR LF line ends.
//
// Lookups build a per-section index on first use, so even const reads must not run on two threads
// at once. Views returned by Value() stay valid until the next write.
class IniFile
{
public:
    IniFile() = default;

    static IniFile FromText(std::string text);
    // A missing or unreadable file gives an empty image. With problem, a file that exists but could
    // not be read (a folder, a FIFO, no permission, too large) or holds no section at all is told
    // there as a CP932 message naming it; a missing file is no problem.
    static IniFile Read(const std::string& path, std::string* problem = nullptr);
    // Removes the temporary files that saves of path interrupted for good left beside it.
    static void RemoveStaleTemporaries(const std::string& path);
    // Reads the file again, applies change in memory and replaces the file in one step: the file
    // holds either all of the change or none of it. Throws IniWriteError.
    static void Update(const std::string& path, const std::function<void(IniFile&)>& change);

    // Present when it holds at least one key line.
    bool HasSection(std::string_view section) const;
    // The number of key lines in it, later lines of a key included.
    std::uint32_t KeyCount(std::string_view section) const;
    // Present when its line exists, even with an empty value.
    bool HasKey(std::string_view section, std::string_view key) const;
    std::optional<std::string_view> Value(std::string_view section, std::string_view key) const;

    // Every key line of the section in file order, later lines of a key included; for readers
    // that take a whole numbered list in one pass.
    template <class Visit>
    void ForEachKey(std::string_view section, Visit&& visit) const
    {
        const Section* found = findSection(section);
        if (!found)
            return;
        const Line* lines = linesOf(*found);
        const std::uint32_t count = lineCount(*found);
        for (std::uint32_t i = 0; i < count; ++i)
            if (lines[i].IsKey())
                visit(keyOf(lines[i]), valueOf(lines[i]));
    }

    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const;
    // "1"/"0"; any other integer is true; anything that is no integer gives the default.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    ColorValue ReadColor(std::string_view section, std::string_view key, ColorValue def) const
    {
        return ReadInteger(section, key, def);
    }

    // Replaces the value of the key's first line in place, or appends the key after the last key
    // of its section, or appends the section at the end of the file. A CR or LF inside the value
    // becomes a blank, so a value can never add lines of its own.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value)
    {
        WriteInteger(section, key, value ? 1 : 0);
    }
    void WriteColor(std::string_view section, std::string_view key, ColorValue value)
    {
        WriteInteger(section, key, value);
    }
    // Removes every section of that name with its lines. A section written again afterwards takes
    // the place of the first one, so rewriting a list keeps the file's order stable.
    void EraseSection(std::string_view section);

    std::string Text() const;
    // Atomic replace: a temporary file in the same folder, flushed to disk, renamed over the file.
    // Throws IniWriteError and leaves the old file as it was.
    void Write(const std::string& path) const;

private:
    struct Line
    {
        std::uint32_t Offset = 0; // into m_store
        std::uint32_t Size = 0;
        std::uint32_t KeyBegin = 0; // relative to Offset
        std::uint32_t KeySize = 0;  // 0: no key line
        std::uint32_t ValueBegin = 0;
        std::uint32_t ValueSize = 0;
        bool IsKey() const { return KeySize != 0; }
    };
    struct Section
    {
        bool HasHeader = false; // false only for the lines before the first header
        bool Erased = false;    // left out of the text when no key is written into it again
        Line Header;            // Key* fields give the name
        // Its lines: m_parsed[First, First + Count) as read, or Own once a line was inserted.
        std::uint32_t First = 0;
        std::uint32_t Count = 0;
        bool Detached = false;
        std::vector<Line> Own;
        std::uint32_t KeyCount = 0;
        // Open addressing over the lines: the key's hash in the high half, line index + 1 in the
        // low half, 0 for a free slot. Lines [0, Indexed) are in it.
        std::vector<std::uint64_t> Index;
        std::uint32_t Indexed = 0;
    };

    Line* linesOf(const Section& section) const
    {
        auto& s = const_cast<Section&>(section); // writers change lines in place
        return s.Detached ? s.Own.data() : m_parsed.data() + s.First;
    }
    std::uint32_t lineCount(const Section& section) const
    {
        return section.Detached ? static_cast<std::uint32_t>(section.Own.size()) : section.Count;
    }
    std::string_view text(std::uint32_t offset, std::uint32_t size) const { return {m_store.data() + offset, size}; }
    std::string_view keyOf(const Line& line) const { return text(line.Offset + line.KeyBegin, line.KeySize); }
    std::string_view valueOf(const Line& line) const { return text(line.Offset + line.ValueBegin, line.ValueSize); }
    std::string_view lineText(const Line& line) const { return text(line.Offset, line.Size); }
    // Appends first, the separator (none when 0) and second to the store as one line.
    Line storeLine(std::string_view first, char separator, std::string_view second);
    void parse();
    const Section* findSection(std::string_view name) const;
    Section* findSection(std::string_view name);
    Section& sectionForWrite(std::string_view name);
    const Line* findKey(const Section& section, std::string_view key) const;
    const Line* findKey(const Section& section, std::string_view key, std::uint64_t hash) const;
    void reserveIndex(Section& section) const;
    void indexLine(Section& section, std::uint32_t line, std::uint64_t hash) const;

    // Original bytes first; lines written later are appended, so offsets never move.
    std::string m_store;
    // The lines as read, section after section, in one block rather than one vector each.
    mutable std::vector<Line> m_parsed;
    mutable std::vector<Section> m_sections;
    mutable std::size_t m_lastSection = 0;
};

} // namespace kavo
