#include "text/multibyte_decoder.h"

#include <langinfo.h>
#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

namespace zav {
namespace {

// The user's default LC_CTYPE as the environment names it.
const char *UserCtypeName() noexcept {
    for (const char *variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char *value = std::getenv(variable);
        if (value != nullptr && value[0] != 0) {
            return value;
        }
    }
    return "C";
}

// The calling thread's locale object for the last locale name it decoded with.
class ThreadCtype {
  public:
    ~ThreadCtype() { Drop(); }

    // Null for a locale decoded as UTF-8 (UTF-8 itself, or plain ASCII, or a locale that is not
    // installed, where the process would have stayed in the C locale).
    locale_t For(const char *name) noexcept {
        if (m_valid && m_name == name) {
            return m_locale;
        }
        Drop();
        try {
            m_name = name;
        } catch (...) {
            return nullptr;
        }
        m_valid = true;
        m_locale = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(0));
        if (m_locale != static_cast<locale_t>(0)) {
            const char *codeset = nl_langinfo_l(CODESET, m_locale);
            if (codeset == nullptr || std::strcmp(codeset, "UTF-8") == 0 ||
                std::strcmp(codeset, "ANSI_X3.4-1968") == 0) {
                freelocale(m_locale);
                m_locale = static_cast<locale_t>(0);
            }
        }
        return m_locale;
    }

  private:
    void Drop() noexcept {
        if (m_locale != static_cast<locale_t>(0)) {
            freelocale(m_locale);
        }
        m_locale = static_cast<locale_t>(0);
        m_valid = false;
    }

    std::string m_name;
    bool m_valid = false;
    locale_t m_locale = static_cast<locale_t>(0);
};

// The calling thread's ThreadCtype: a plain initial-exec TLS pointer (no thread_local destructor,
// whose registration aborts the process when memory runs out), released at thread exit by a
// pthread key's destructor. Null when it cannot be made; the next call tries again.
__attribute__((tls_model("initial-exec"))) thread_local ThreadCtype *t_ctype = nullptr;

void ReleaseThreadCtype(void *ctype) noexcept {
    delete static_cast<ThreadCtype *>(ctype);
    t_ctype = nullptr;
}

ThreadCtype *CurrentThreadCtype() noexcept {
    if (t_ctype != nullptr) {
        return t_ctype;
    }
    static std::mutex mutex;
    static pthread_key_t key;
    static bool haveKey = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!haveKey) {
            haveKey = pthread_key_create(&key, ReleaseThreadCtype) == 0;
        }
        if (!haveKey) {
            return nullptr;
        }
    }
    ThreadCtype *ctype = new (std::nothrow) ThreadCtype();
    if (ctype == nullptr || pthread_setspecific(key, ctype) != 0) {
        delete ctype;
        return nullptr;
    }
    t_ctype = ctype;
    return ctype;
}

bool IsContinuation(unsigned char b) noexcept {
    return (b & 0xC0) == 0x80;
}

}  // namespace

std::size_t DecodeUtf8(const unsigned char *p, std::size_t available, uint32_t *code) noexcept {
    const unsigned char b = p[0];
    if (b < 0x80) {
        *code = b;
        return 1;
    }
    std::size_t length = 0;
    uint32_t value = 0;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
        value = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        value = b & 0x0F;
        low = b == 0xE0 ? 0xA0 : 0x80;
        high = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        value = b & 0x07;
        low = b == 0xF0 ? 0x90 : 0x80;
        high = b == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (available < length || p[1] < low || p[1] > high) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (!IsContinuation(p[k])) {
            return 0;
        }
        value = (value << 6) | (p[k] & 0x3F);
    }
    *code = value;
    return length;
}

MultibyteDecoder::MultibyteDecoder(TextEncoding encoding) noexcept {
    if (encoding == TextEncoding::kUserDefault) {
        // Without the thread's locale object (no memory) the text decodes as UTF-8.
        ThreadCtype *ctype = CurrentThreadCtype();
        m_locale = ctype != nullptr ? ctype->For(UserCtypeName()) : static_cast<locale_t>(0);
        m_utf8 = m_locale == static_cast<locale_t>(0);
    }
}

DecodedChar MultibyteDecoder::Next(const unsigned char *p, std::size_t available) noexcept {
    DecodedChar out;
    if (p[0] < 0x80) {
        out.code = p[0];
        return out;
    }
    std::size_t length = 0;
    if (m_utf8) {
        length = DecodeUtf8(p, available, &out.code);
    } else {
        wchar_t wc = 0;
        const locale_t previous = uselocale(m_locale);
        const std::size_t r =
            std::mbrtowc(&wc, reinterpret_cast<const char *>(p), available, &m_state);
        uselocale(previous);
        if (r == static_cast<std::size_t>(-1) || r == static_cast<std::size_t>(-2) || r == 0) {
            m_state = std::mbstate_t{};
        } else {
            length = r;
            out.code = static_cast<uint32_t>(wc);
        }
    }
    if (length == 0) {
        out.code = kMissingGlyphCode;
        length = available >= 2 ? 2 : 1;
    }
    out.length = static_cast<uint32_t>(length);
    return out;
}

}  // namespace zav
