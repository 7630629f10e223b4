#include "Marvane/Platform/Message.h"
#include "String/Utf8.h"

#include <unistd.h>

namespace Marvane::Platform {

namespace {

// Text written without allocating: converted piece by piece through a small buffer. Unconvertible units
// show as U+FFFD rather than losing the message.
class ErrorStream {
  public:
    ~ErrorStream() { Flush(); }

    void Put(const wchar_t* text) {
        if (text == nullptr) return;
        while (*text != L'\0') {
            if (m_used + 4 > sizeof(m_buffer)) Flush();
            m_used += String::Detail::EncodeNextUtf8(text, m_buffer + m_used);
        }
    }

    void Flush() {
        const char* cursor = m_buffer;
        while (m_used > 0) {
            const ssize_t written = write(STDERR_FILENO, cursor, m_used);
            if (written <= 0) break; // nowhere to report a broken standard error to
            cursor += written;
            m_used -= static_cast<std::size_t>(written);
        }
        m_used = 0;
    }

  private:
    char m_buffer[512];
    std::size_t m_used = 0;
};

} // namespace

Error::Enum ShowMessage(const wchar_t* caption, const wchar_t* text) {
    ErrorStream stream;
    stream.Put(caption);
    stream.Put(L": ");
    stream.Put(text);
    stream.Put(L"\n");
    return Error::Ok;
}

} // namespace Marvane::Platform
