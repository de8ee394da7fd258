#pragma once
#include <string>

// What a file operation came to, in the few kinds the engine acts on, with
// the system's own wording for a message.
class FileResult {
public:
    enum class Kind {
        Ok,
        NoRoom,     // the disk or the user's quota is full
        Exists,     // something stands at the name already
        Missing,    // no such file or folder
        NotAFile,   // a link, folder or device where a file was asked for
        Other,
    };
    FileResult() = default;
    FileResult(Kind kind, int systemCode) : m_kind(kind), m_systemCode(systemCode) {}
    // The result of the system error `systemCode` (0: success), sorted into a kind.
    static FileResult FromSystem(int systemCode);

    bool Ok() const { return m_kind == Kind::Ok; }
    Kind GetKind() const { return m_kind; }
    // "No space left on device", as the system words it.
    std::string Text() const;

private:
    Kind m_kind = Kind::Ok;
    int m_systemCode = 0;
};
