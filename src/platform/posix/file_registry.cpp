#include "platform/posix/file_registry.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwick::platform {

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kRoot = "HKEY_CURRENT_USER";
constexpr char kHexDigits[] = "0123456789abcdef";

// ---- parsing ----------------------------------------------------------------------------------

class Parser {
public:
    Parser(std::string_view text, const std::string& fileName) : text_(text), file_(fileName) {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
    }

    RegTree parse() {
        RegTree tree;
        bool headerSeen = false;
        RegTree::Key* currentKey = nullptr;
        std::string_view line;
        while (nextLine(line)) {
            std::string_view t = trim(line);
            if (t.empty()) continue;
            if (!headerSeen) {
                if (t != kHeader) fail("not a REGEDIT4 file");
                headerSeen = true;
                continue;
            }
            if (t.front() == ';') continue;
            if (t.front() == '[') {
                std::string_view path = sectionPath(t);
                if (const char* problem = keyPathProblem(path)) fail(problem);
                // Keys above a section exist, but only the sections themselves are written back.
                currentKey = tree.createKey(path, false);
                if (!currentKey) fail("more than 65536 keys");
                // A long list is one section: make room for its values at once (up to a bound,
                // as blank lines count too).
                if (currentKey->values.empty())
                    currentKey->reserve(std::min<size_t>(linesInSection(), 65536));
                continue;
            }
            if (t.front() == '"' || t.front() == '@') {
                if (!currentKey) fail("a value before the first key");
                valueLine(t, *currentKey);
                continue;
            }
            fail("unexpected text");
        }
        // An empty file (or one of blanks only) is an empty store; anything else needs the header.
        tree.markClean();
        return tree;
    }

private:
    [[noreturn]] void fail(const char* what) const {
        throw RegistryError(RegistryError::Kind::Unreadable,
                            format("%s, line %d: %s", file_.c_str(), line_, what));
    }

    // Lines from here to the next line that starts with "[" (an upper bound on the values).
    size_t linesInSection() const {
        size_t end = text_.find("\n[", pos_);
        std::string_view rest =
            text_.substr(pos_, end == std::string_view::npos ? end : end - pos_);
        size_t lines = 0;
        for (size_t at = rest.find('\n'); at != std::string_view::npos;
             at = rest.find('\n', at + 1))
            ++lines;
        return lines + 1;
    }

    bool nextLine(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        line = text_.substr(pos_, end - pos_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = end + 1;
        ++line_;
        return true;
    }

    static bool blank(char c) { return c == ' ' || c == '\t'; }
    static std::string_view trim(std::string_view s) {
        while (!s.empty() && blank(s.front())) s.remove_prefix(1);
        while (!s.empty() && blank(s.back())) s.remove_suffix(1);
        return s;
    }

    std::string_view sectionPath(std::string_view t) const {
        if (t.back() != ']') fail("a key line without its closing ]");
        std::string_view inner = t.substr(1, t.size() - 2);
        if (!inner.empty() && inner.front() == '-')
            fail("a key deletion, which a store cannot hold");
        std::string_view root = inner.substr(0, inner.find('\\'));
        if (foldName(root) != foldName(kRoot)) fail("a key outside HKEY_CURRENT_USER");
        return inner.substr(root.size());
    }

    // A quoted text starting at s[i] == '"'; leaves i after the closing quote.
    std::string quoted(std::string_view s, size_t& i, bool terminate = false) const {
        std::string out;
        // Most texts hold no escape: take them whole.
        size_t close = s.find('"', i + 1);
        if (close != std::string_view::npos &&
            s.substr(i + 1, close - i - 1).find('\\') == std::string_view::npos) {
            out.reserve(close - i);
            out.assign(s.substr(i + 1, close - i - 1));
            if (terminate) out.push_back('\0');
            i = close + 1;
            return out;
        }
        for (++i; i < s.size(); ++i) {
            char c = s[i];
            if (c == '"') {
                ++i;
                if (terminate) out.push_back('\0');
                return out;
            }
            if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) c = s[++i];
            out.push_back(c);
        }
        fail("a text without its closing quote");
    }

    static int hexValue(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    void valueLine(std::string_view t, RegTree::Key& key) {
        size_t i = 0;
        std::string name;
        if (t[0] == '@') {
            i = 1;
        } else {
            name = quoted(t, i);
        }
        while (i < t.size() && blank(t[i])) ++i;
        if (i >= t.size() || t[i] != '=') fail("a value name without =");
        std::string_view data = trim(t.substr(i + 1));
        RegValue value;
        if (!data.empty() && data.front() == '"') {
            size_t j = 0;
            value = RegValue{REG_SZ, quoted(data, j, true)};
            if (!trim(data.substr(j)).empty()) fail("text after a closing quote");
        } else if (foldName(data.substr(0, 6)) == "dword:") {
            std::string_view digits = data.substr(6);
            if (digits.empty() || digits.size() > 8)
                fail("a dword of other than 1 to 8 hex digits");
            uint32_t n = 0;
            for (char c : digits) {
                int d = hexValue(c);
                if (d < 0) fail("a dword of other than 1 to 8 hex digits");
                n = (n << 4) | static_cast<uint32_t>(d);
            }
            value = RegValue::dword(n);
        } else if (foldName(data.substr(0, 3)) == "hex") {
            value = hexValueData(data);
        } else if (data == "-") {
            fail("a value deletion, which a store cannot hold");
        } else {
            fail("a value of unknown form");
        }
        if (!validValueName(name)) fail("a value name the store cannot hold");
        key.set(name, std::move(value));
    }

    RegValue hexValueData(std::string_view data) {
        RegValue value{REG_BINARY, {}};
        size_t i = 3;
        if (i < data.size() && data[i] == '(') {
            size_t close = data.find(')', i);
            if (close == std::string_view::npos || close == i + 1 || close - i - 1 > 8)
                fail("a hex type that is not hex(N)");
            uint32_t type = 0;
            for (size_t k = i + 1; k < close; ++k) {
                int d = hexValue(data[k]);
                if (d < 0) fail("a hex type that is not hex(N)");
                type = (type << 4) | static_cast<uint32_t>(d);
            }
            value.type = type;
            i = close + 1;
        }
        if (i >= data.size() || data[i] != ':') fail("a hex value without :");
        std::string list(data.substr(i + 1));
        // A list ending in "\" goes on in the next line.
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            std::string_view next;
            if (!nextLine(next)) fail("a hex list cut off at the end of the file");
            list += trim(next);
        }
        size_t k = 0;
        auto skipBlanks = [&] {
            while (k < list.size() && blank(list[k])) ++k;
        };
        skipBlanks();
        while (k < list.size()) {
            int hi = hexValue(list[k]);
            if (hi < 0) fail("a hex list with a byte that is not hex");
            int byte = hi;
            ++k;
            if (k < list.size() && hexValue(list[k]) >= 0) byte = byte * 16 + hexValue(list[k++]);
            value.data.push_back(static_cast<char>(byte));
            skipBlanks();
            if (k < list.size()) {
                if (list[k] != ',') fail("a hex list with a byte that is not hex");
                ++k;
                skipBlanks();
            }
        }
        return value;
    }

    std::string_view text_;
    const std::string& file_;
    size_t pos_ = 0;
    int line_ = 0;
};

// ---- writing ----------------------------------------------------------------------------------

// `s` holds no zero byte and is followed by one (a std::string's own terminator), so the C
// library's vectorised scan can find the characters to escape.
void appendQuoted(std::string& out, const char* s, size_t n) {
    out.push_back('"');
    const char* end = s + n;
    while (s < end) {
        size_t run = std::strcspn(s, "\\\"");
        out.append(s, run);
        s += run;
        if (s < end) {
            out.push_back('\\');
            out.push_back(*s++);
        }
    }
    out.push_back('"');
}

// Whether "text" gives back exactly these bytes when parsed again.
bool quotable(const RegValue& v) {
    if (v.type != REG_SZ || v.data.empty() || v.data.back() != '\0') return false;
    for (size_t i = 0; i + 1 < v.data.size(); ++i) {
        char c = v.data[i];
        if (c == '\0' || c == '\r' || c == '\n') return false;
    }
    return true;
}

void appendHex(std::string& out, const RegValue& v) {
    if (v.type == REG_BINARY) {
        out += "hex:";
    } else {
        out += "hex(";
        char buf[16];
        std::snprintf(buf, sizeof buf, "%x", v.type);
        out += buf;
        out += "):";
    }
    size_t lineStart = out.rfind('\n') + 1;
    for (size_t i = 0; i < v.data.size(); ++i) {
        auto b = static_cast<unsigned char>(v.data[i]);
        out.push_back(kHexDigits[b >> 4]);
        out.push_back(kHexDigits[b & 15]);
        if (i + 1 < v.data.size()) {
            out.push_back(',');
            // Keep lines readable the way regedit does: about 80 columns, "\" to go on.
            if (out.size() - lineStart > 76) {
                out += "\\\r\n  ";
                lineStart = out.size() - 2;
            }
        }
    }
}

// ---- files ------------------------------------------------------------------------------------

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(UniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) {
            reset();
            fd_ = std::exchange(o.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::string dirOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] void unwritable(const char* what, const std::string& path, int err) {
    throw RegistryError(RegistryError::Kind::Unwritable,
                        format("%s %s: %s", what, path.c_str(), std::strerror(err)));
}

void makeDirs(const std::string& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return;
        unwritable("Cannot create the settings folder", dir, ENOTDIR);
    }
    std::string parent = dirOf(dir);
    if (parent != dir) makeDirs(parent);
    // Private to the user, as the XDG base directory rules ask for folders they create.
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        unwritable("Cannot create the settings folder", dir, errno);
}

// No store comes near this; a file beyond it is refused before it is read.
constexpr off_t kMaxFileSize = off_t(256) << 20;

// Why a file that exists cannot be a store: only a regular file can be read without blocking
// or replaced without harm to something else.
const char* notRegular(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder, not a regular file";
    if (S_ISFIFO(mode)) return "a FIFO, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device, not a regular file";
    if (S_ISSOCK(mode)) return "a socket, not a regular file";
    return S_ISREG(mode) ? nullptr : "not a regular file";
}

[[noreturn]] void unreadable(const std::string& path, const char* why) {
    throw RegistryError(RegistryError::Kind::Unreadable,
                        format("Cannot read the settings file %s: %s", path.c_str(), why));
}

// Buffers for the whole file's text, kept from one read or write to the next: a fresh buffer of
// the file's size costs a page fault per 4 KiB each time, more than reading or formatting it.
// One too large to be worth keeping is let go after use.
class ScratchText {
public:
    explicit ScratchText(std::string& buffer) : buffer_(buffer) { buffer_.clear(); }
    ~ScratchText() {
        if (buffer_.capacity() > (size_t(8) << 20)) std::string().swap(buffer_);
    }
    ScratchText(const ScratchText&) = delete;
    ScratchText& operator=(const ScratchText&) = delete;
    std::string& get() { return buffer_; }

private:
    std::string& buffer_;
};

thread_local std::string tReadBuffer;
thread_local std::string tWriteBuffer;

// Reads the file into `text`; false when it does not exist.
bool readFile(const std::string& path, std::string& text) {
    // Looked at before opening, so a FIFO never blocks us and a device is never opened.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return false;
        unreadable(path, std::strerror(errno));
    }
    if (const char* why = notRegular(st.st_mode)) unreadable(path, why);
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) {
        if (errno == ENOENT) return false;
        unreadable(path, std::strerror(errno));
    }
    if (::fstat(fd.get(), &st) != 0) unreadable(path, std::strerror(errno));
    if (const char* why = notRegular(st.st_mode)) unreadable(path, why);
    if (st.st_size > kMaxFileSize) unreadable(path, "larger than the 256 MiB a store may hold");
    // One buffer of the file's size; a file that grows meanwhile is read on up to the limit.
    text.resize(static_cast<size_t>(st.st_size) + 1);
    size_t got = 0;
    for (;;) {
        if (got == text.size()) {
            if (text.size() > static_cast<size_t>(kMaxFileSize))
                unreadable(path, "larger than the 256 MiB a store may hold");
            text.resize(text.size() + 65536);
        }
        ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            unreadable(path, std::strerror(errno));
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    text.resize(got);
    return true;
}

RegTree loadTree(const std::string& path) {
    ScratchText text(tReadBuffer);
    return readFile(path, text.get()) ? parseRegistryText(text.get(), path) : RegTree();
}

// A store kept in dotfiles is often a symbolic link: replace the file it points to, not the
// link. The link may point to a file that does not exist yet; that is where the store goes.
std::string replacementTarget(const std::string& path) {
    std::string target = path;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
        if (hops == 40) unwritable("Cannot write the settings file", path, ELOOP);
        std::string link(PATH_MAX, '\0');
        ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0) unwritable("Cannot write the settings file", path, errno);
        link.resize(static_cast<size_t>(n));
        target = link.front() == '/' ? link : dirOf(target) + '/' + link;
    }
}

void writeAll(int fd, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            unwritable("Cannot write the settings file", path, errno);
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
}

class FileRegistryWriter : public RegistryWriter {
public:
    FileRegistryWriter(const std::string& path,
                       std::function<void(const std::string&)> beforeRename)
        : path_(path), beforeRename_(std::move(beforeRename)) {
        makeDirs(dirOf(path_));
        const std::string lockPath = path_ + ".lock";
        lock_ = openLock(lockPath);
        while (::flock(lock_.get(), LOCK_EX) != 0)
            if (errno != EINTR) unwritable("Cannot lock the settings file", lockPath, errno);
        tree_ = loadTree(path_);
        removeLeftovers();
    }

    bool keyExists(std::string_view p) const override { return tree_.keyExists(p); }
    std::optional<RegValue> queryValue(std::string_view k, std::string_view n) const override {
        const RegValue* v = tree_.value(k, n);
        return v ? std::optional<RegValue>(*v) : std::nullopt;
    }
    const RegValue* findValue(std::string_view k, std::string_view n) const override {
        return tree_.value(k, n);
    }
    std::vector<std::string> subKeyNames(std::string_view p) const override {
        return tree_.subKeyNames(p);
    }
    std::vector<std::string> valueNames(std::string_view p) const override {
        return tree_.valueNames(p);
    }

    bool createKey(std::string_view p) override { return tree_.createKey(p) != nullptr; }
    bool setValue(std::string_view k, std::string_view n, RegValue v) override {
        return tree_.setValue(k, n, std::move(v));
    }
    bool deleteValue(std::string_view k, std::string_view n) override {
        return tree_.deleteValue(k, n);
    }
    bool deleteKey(std::string_view p) override { return tree_.deleteKey(p); }

    void commit() override {
        if (!tree_.changed()) return;
        ScratchText scratch(tWriteBuffer);
        std::string& text = scratch.get();
        formatRegistryText(tree_, text);
        std::string target = replacementTarget(path_);
        std::string dir = dirOf(target);
        // Never put a file in the place of a device, a FIFO or anything else that is not one.
        struct stat st {};
        bool exists = ::lstat(target.c_str(), &st) == 0;
        if (exists) {
            if (const char* why = notRegular(st.st_mode))
                throw RegistryError(
                    RegistryError::Kind::Unwritable,
                    format("Cannot write the settings file %s: %s", target.c_str(), why));
        } else if (errno != ENOENT) {
            unwritable("Cannot write the settings file", target, errno);
        }
        std::string temp = target + ".tmpXXXXXX";
        UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
        if (!fd) unwritable("Cannot write the settings file", target, errno);
        try {
            mode_t mode = exists ? (st.st_mode & 07777) : 0600;
            if (::fchmod(fd.get(), mode) != 0)
                unwritable("Cannot write the settings file", target, errno);
            writeAll(fd.get(), text, target);
            if (::fsync(fd.get()) != 0) unwritable("Cannot write the settings file", target, errno);
            if (::close(fd.release()) != 0)
                unwritable("Cannot write the settings file", target, errno);
            if (beforeRename_) beforeRename_(temp);
            if (::rename(temp.c_str(), target.c_str()) != 0)
                unwritable("Cannot write the settings file", target, errno);
        } catch (...) {
            ::unlink(temp.c_str());
            throw;
        }
        // The rename itself is durable only once the folder is synced.
        UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dirFd) ::fsync(dirFd.get());
        tree_.markClean();
    }

private:
    // The lock file is ours alone: a link is never followed (it could lead to a device, or make
    // a file wherever it points), and only a regular file is opened, even if one is swapped in.
    static UniqueFd openLock(const std::string& lockPath) {
        auto refuse = [&](const char* why) {
            throw RegistryError(
                RegistryError::Kind::Unwritable,
                format("Cannot lock the settings file %s: %s", lockPath.c_str(), why));
        };
        struct stat st {};
        if (::lstat(lockPath.c_str(), &st) == 0) {
            if (S_ISLNK(st.st_mode)) refuse("a symbolic link, which is never followed");
            if (const char* why = notRegular(st.st_mode)) refuse(why);
        }
        UniqueFd fd(::open(lockPath.c_str(),
                           O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
                           0600));
        if (!fd) {
            if (errno == ELOOP) refuse("a symbolic link, which is never followed");
            unwritable("Cannot lock the settings file", lockPath, errno);
        }
        if (::fstat(fd.get(), &st) != 0)
            unwritable("Cannot lock the settings file", lockPath, errno);
        if (const char* why = notRegular(st.st_mode)) refuse(why);
        return fd;
    }

    // Under the lock no other writer runs, so any temporary file beside the store is from a
    // writer that died before its rename.
    void removeLeftovers() {
        std::string target = replacementTarget(path_);
        std::string dir = dirOf(target);
        std::string prefix = baseOf(target) + ".tmp";
        DIR* d = ::opendir(dir.c_str());
        if (!d) return;
        while (dirent* e = ::readdir(d)) {
            std::string_view name = e->d_name;
            if (name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix)
                ::unlinkat(::dirfd(d), e->d_name, 0);
        }
        ::closedir(d);
    }

    std::string path_;
    std::function<void(const std::string&)> beforeRename_;
    UniqueFd lock_;
    RegTree tree_;
};

} // namespace

std::string defaultRegistryPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        // A relative HOME is ignored like a relative XDG_CONFIG_HOME: the store must not move
        // with the current folder.
        const char* home = std::getenv("HOME");
        std::string h = (home && home[0] == '/') ? home : "";
        if (h.empty()) {
            if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) h = pw->pw_dir;
        }
        if (h.empty() || h[0] != '/')
            throw Error("Cannot find the home folder for the settings file");
        base = h + "/.config";
    }
    return base + "/tarnwick/user.reg";
}

RegTree parseRegistryText(std::string_view text, const std::string& fileName) {
    return Parser(text, fileName).parse();
}

// Which keys get a section: those named themselves, those holding values, and those with
// nothing below them (an empty key must survive). A key made only to hold a deeper one is
// implied by its children's sections, which regedit imports with their parents; writing it
// would repeat its whole path once per level.
static bool needsSection(const RegTree::Key& key, bool root) {
    if (root) return !key.values.empty();
    return key.listed() || !key.values.empty() || !key.hasSubKeys();
}

std::string formatRegistryText(const RegTree& tree) {
    std::string out;
    formatRegistryText(tree, out);
    return out;
}

void formatRegistryText(const RegTree& tree, std::string& out) {
    out.clear();
    size_t estimate = 64;
    tree.forEachKey([&](const RegTree::Key& key, const std::string& path) {
        if (!needsSection(key, path.empty())) return;
        estimate += path.size() + 32;
        for (const auto& [name, value] : key.values)
            estimate += name.size() + 2 * value.data.size() + 8;
    });
    out.reserve(estimate);
    out += kHeader;
    out += "\r\n";
    tree.forEachKey([&](const RegTree::Key& key, const std::string& path) {
        if (!needsSection(key, path.empty())) return;
        out += "\r\n[";
        out += kRoot;
        if (!path.empty()) {
            out.push_back('\\');
            out += path;
        }
        out += "]\r\n";
        for (const auto& [name, value] : key.values) {
            if (name.empty())
                out.push_back('@');
            else
                appendQuoted(out, name.c_str(), name.size());
            out.push_back('=');
            if (quotable(value)) {
                appendQuoted(out, value.data.c_str(), value.data.size() - 1);
            } else if (value.type == REG_DWORD && value.data.size() == 4) {
                uint32_t n = 0;
                for (int i = 3; i >= 0; --i)
                    n = (n << 8) | static_cast<unsigned char>(value.data[static_cast<size_t>(i)]);
                char buf[24];
                std::snprintf(buf, sizeof buf, "dword:%08x", n);
                out += buf;
            } else {
                appendHex(out, value);
            }
            out += "\r\n";
        }
    });
}

FileRegistry::FileRegistry() : FileRegistry(defaultRegistryPath()) {}

FileRegistry::FileRegistry(std::string path) : path_(std::move(path)) {}

std::unique_ptr<RegistryReader> FileRegistry::read() {
    return std::make_unique<RegTreeReader>(loadTree(path_));
}

std::unique_ptr<RegistryWriter> FileRegistry::write() {
    return std::make_unique<FileRegistryWriter>(path_, beforeRename_);
}

} // namespace tarnwick::platform
