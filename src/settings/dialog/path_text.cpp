#include "settings/dialog/path_text.h"

#include <QFile>
#include <QUrl>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

namespace tarnwick {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // + the byte (0x80..0xFF)

// Length of the valid UTF-8 sequence at `p` (1..4), or 0 when the byte there starts none.
size_t utf8Length(std::string_view s, size_t p) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[p + i]); };
    const auto cont = [&](size_t i, unsigned lo = 0x80, unsigned hi = 0xBF) {
        return p + i < s.size() && b(i) >= lo && b(i) <= hi;
    };
    const unsigned c = b(0);
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        // No overlong forms, no encoded surrogates (those stand for stray bytes here).
        const unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
        return cont(1, lo, hi) && cont(2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
        return cont(1, lo, hi) && cont(2) && cont(3) ? 4 : 0;
    }
    return 0;
}

bool isEscape(char16_t c) {
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF;
}

bool isUtf8(std::string_view s) {
    for (size_t p = 0; p < s.size();) {
        const size_t n = utf8Length(s, p);
        if (n == 0) return false;
        p += n;
    }
    return true;
}

} // namespace

QString pathToText(std::string_view path) {
    if (isUtf8(path)) return QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
    QString text;
    text.reserve(static_cast<qsizetype>(path.size()));
    for (size_t p = 0; p < path.size();) {
        const size_t n = utf8Length(path, p);
        if (n == 0) {
            text += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(path[p])));
            ++p;
        } else {
            text += QString::fromUtf8(path.data() + p, static_cast<qsizetype>(n));
            p += n;
        }
    }
    return text;
}

std::string textToPath(const QString& text) {
    std::string path;
    path.reserve(static_cast<size_t>(text.size()));
    qsizetype runStart = 0;
    const auto flush = [&](qsizetype end) {
        if (end > runStart) path += text.sliced(runStart, end - runStart).toUtf8().toStdString();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (!isEscape(c)) continue;
        flush(i);
        path += static_cast<char>(c - kEscapeBase);
        runStart = i + 1;
    }
    flush(text.size());
    return path;
}

QString pathKey(const QString& text) {
    // Qt's case folding turns lone surrogates into U+FFFD: fold only the runs between them,
    // so stray bytes keep their own identity.
    QString key;
    key.reserve(text.size());
    qsizetype runStart = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isEscape(text[i].unicode())) continue;
        key += text.sliced(runStart, i - runStart).toCaseFolded();
        if (i < text.size()) key += text[i];
        runStart = i + 1;
    }
    return key;
}

std::string urlToPath(const QUrl& url) {
    if (!url.isLocalFile()) return std::string();
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

std::string nearestTextFolder(const std::string& path) {
    if (isUtf8(path)) return path;
    std::string folder = path;
    while (!folder.empty() && !isUtf8(folder)) {
        const size_t slash = folder.rfind('/');
        folder = slash == std::string::npos ? std::string() : folder.substr(0, slash);
    }
    return folder.empty() && !path.empty() && path.front() == '/' ? "/" : folder;
}

std::string pathOnDisk(const QString& shown) {
    const std::string given = QFile::encodeName(shown).toStdString();
    struct stat st {};
    if (given.empty() || given.front() != '/' || ::lstat(given.c_str(), &st) == 0) return given;
    std::string result;
    for (size_t p = 1; p <= given.size();) {
        const size_t slash = std::min(given.find('/', p), given.size());
        const std::string part = given.substr(p, slash - p);
        p = slash + 1;
        if (part.empty()) continue;
        std::string chosen = part;
        if (::lstat((result + "/" + part).c_str(), &st) != 0) {
            const std::string folder = result.empty() ? "/" : result;
            const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
            const QString wanted = QFile::decodeName(QByteArray::fromStdString(part));
            while (dir) {
                const dirent* e = ::readdir(dir.get());
                if (e == nullptr) break;
                if (QFile::decodeName(e->d_name) == wanted) {
                    chosen = e->d_name;
                    break;
                }
            }
        }
        result += "/" + chosen;
    }
    return result.empty() ? "/" : result;
}

} // namespace tarnwick
