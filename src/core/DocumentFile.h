#pragma once
// A file of a document folder, read in chunks for a client. A name counts only when it names a
// regular file that lies inside the folder once every link is followed: a link that leads out of
// the folder, a folder, a device or a pipe names no document, and neither does a name with a
// zero byte. An empty or missing folder holds no documents.
// Names are UTF-8; '/' separates folders (on Windows '\' too).
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

class TDocumentFile {
public:
    TDocumentFile() = default;
    ~TDocumentFile() { Close(); }
    TDocumentFile(const TDocumentFile&) = delete;
    TDocumentFile& operator=(const TDocumentFile&) = delete;

    // Whether `document` names a document of `folder` (it may still fail to open: no right to
    // read it, or another program holds it).
    static bool Exists(const std::string& folder, const std::string& document);
    // Opens the document for reading, after closing what was open. Others may read it
    // meanwhile. False, and nothing open, when it is no document of the folder or cannot be
    // opened; what is opened is the very file that was checked.
    bool Open(const std::string& folder, const std::string& document);
    bool IsOpen() const { return FHandle != Closed; }
    // Of the open file, as it was when opened.
    uint64_t Size() const { return FSize; }
    std::optional<time_t> Modified() const { return FModified; }  // last write, UTC
    // Up to `size` bytes from where the last read ended: the count, 0 at the end, -1 on an error.
    int64_t Read(char* buffer, size_t size);
    void Close();

private:
    static constexpr intptr_t Closed = -1;
    intptr_t FHandle = Closed;  // the system's handle of the open file
    uint64_t FSize = 0;
    std::optional<time_t> FModified;
};

// Last-write time (UTC) of the entry of that name (a folder too); none when there is none.
std::optional<time_t> FileDateOf(const std::string& fileName);
