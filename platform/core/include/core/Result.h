#pragma once

#include <QString>

#include <utility>
#include <variant>

namespace kav {

// What kind of failure, so a caller can act on it without asking the disk again.
enum class ErrorKind {
    Other,
    NotFound, // no file of that name (in any spelling)
    NotAFile, // a folder, a FIFO, a device: never opened
    Read,     // there, but could not be read
    Write,    // could not be created, written or replaced
    // Replaced, but the folder could not be flushed: the new name may not survive a power cut.
    NotDurable,
    Format, // read, but its content is not what the file must hold
    Clash,  // two spellings of one name both hold data: the program does not guess
    Unsafe, // a link leading out of the folder, or a name no file may have
    // The folder opened at the start is gone, unmounted or replaced: nothing was done.
    Unreachable,
};

// What went wrong, in words the app layer can put in front of the user.
struct Error
{
    QString file;    // the file concerned, empty when none
    QString message; // Japanese reason, one line
    int line = 0;    // 1-based line of the file, 0 when not known
    ErrorKind kind = ErrorKind::Other;
};

template <typename T> class [[nodiscard]] Result
{
public:
    Result(T value) : m_data(std::move(value)) {}
    Result(Error error) : m_data(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(m_data); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<T>(m_data); }
    T& value() { return std::get<T>(m_data); }
    const Error& error() const { return std::get<Error>(m_data); }

private:
    std::variant<T, Error> m_data;
};

class [[nodiscard]] Status
{
public:
    Status() = default;
    Status(Error error) : m_failed(true), m_error(std::move(error)) {}

    static Status success() { return {}; }
    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return m_error; }

private:
    bool m_failed = false;
    Error m_error;
};

} // namespace kav
