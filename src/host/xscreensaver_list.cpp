// The hack's entry in the programs list of ~/.xscreensaver.
#include "host/xscreensaver_list.h"

#include "platform/error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnwick::hack {

namespace {

constexpr std::string_view kHackName = "tarnwick-hack";
constexpr std::string_view kBlanks = " \t";

// Physical lines, each with its newline (the last may lack one).
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size() - 1);
        lines.push_back(text.substr(0, end + 1));
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::string_view content(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    return line;
}

bool continues(std::string_view line) {
    const std::string_view c = content(line);
    return !c.empty() && c.back() == '\\';
}

std::string_view trimmed(std::string_view s) {
    const size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// Where the programs resource sits: its first and last physical line, and where its value
// starts in the first.
struct Resource {
    size_t first = 0, last = 0, valueAt = 0;
};

// The resource name may carry the class or a wildcard before it: "*programs:" in the packaged
// defaults, "programs:" in the user's file.
std::optional<Resource> findPrograms(const std::vector<std::string_view>& lines) {
    for (size_t i = 0; i < lines.size(); ++i) {
        const bool continuation = i > 0 && continues(lines[i - 1]);
        const std::string_view line = content(lines[i]);
        const size_t colon = line.find(':');
        if (continuation || colon == std::string_view::npos) continue;
        const std::string_view name = trimmed(line.substr(0, colon));
        const std::string_view bare =
            name.substr(std::min(name.size(), name.find_last_of("*.") + 1));
        if (bare != "programs" || name.front() == '!' || name.front() == '#') continue;
        Resource r{i, i, colon + 1};
        while (r.last + 1 < lines.size() && continues(lines[r.last])) ++r.last;
        return r;
    }
    return std::nullopt;
}

// The entries of the list, as the daemon splits them: the lines joined, then cut at each "\n".
std::vector<std::string> entries(const std::vector<std::string_view>& lines, const Resource& r) {
    std::string value;
    for (size_t i = r.first; i <= r.last; ++i) {
        std::string_view c = content(lines[i]);
        if (i == r.first) c.remove_prefix(r.valueAt);
        if (continues(lines[i])) c.remove_suffix(1);
        value += c;
    }
    std::vector<std::string> out;
    size_t at = 0;
    while (at <= value.size()) {
        const size_t end = std::min(value.find("\\n", at), value.size());
        if (const std::string_view e = trimmed(std::string_view(value).substr(at, end - at));
            !e.empty())
            out.emplace_back(e);
        at = end + 2;
    }
    return out;
}

// The program an entry runs: after a leading "-" (switched off), a visual ("GL:") and a quoted
// name.
std::string_view programOf(std::string_view entry) {
    entry = trimmed(entry);
    if (!entry.empty() && entry.front() == '-') entry = trimmed(entry.substr(1));
    const size_t word = entry.find_first_of(kBlanks);
    if (word != std::string_view::npos && word > 0 && entry[word - 1] == ':')
        entry = trimmed(entry.substr(word));
    if (!entry.empty() && entry.front() == '"') {
        const size_t close = entry.find('"', 1);
        entry =
            close == std::string_view::npos ? std::string_view{} : trimmed(entry.substr(close + 1));
    }
    entry = entry.substr(0, entry.find_first_of(kBlanks));
    const size_t slash = entry.rfind('/');
    return slash == std::string_view::npos ? entry : entry.substr(slash + 1);
}

std::string joined(const std::vector<std::string_view>& lines, size_t from, size_t to) {
    std::string s;
    for (size_t i = from; i < to && i < lines.size(); ++i) s += lines[i];
    return s;
}

// A new user file: the packaged list alone; every other setting stays the daemon's default.
std::string fromDefaults(std::string_view defaults) {
    const auto lines = splitLines(defaults);
    const auto r = findPrograms(lines);
    if (!r)
        throw Error("XScreenSaver's defaults hold no programs list: is XScreenSaver installed?");
    std::string text = "# XScreenSaver's programs list, with Tarnwick added; every other setting\n"
                       "# is the daemon's default until XScreenSaver's settings program saves.\n";
    text += "programs:";
    text += lines[r->first].substr(r->valueAt);
    text += joined(lines, r->first + 1, r->last + 1);
    if (text.back() != '\n') text += '\n';
    return text;
}

} // namespace

ProgramsEdit addToPrograms(const std::optional<std::string>& userFile, std::string_view defaults,
                           std::string_view entry) {
    ProgramsEdit edit;
    edit.text = userFile ? *userFile : fromDefaults(defaults);
    const auto lines = splitLines(edit.text);
    auto r = findPrograms(lines);
    if (!r) {
        // A user file without a list gets the packaged one, after its own lines.
        std::string text = edit.text;
        if (!text.empty() && text.back() != '\n') text += '\n';
        edit.text = text + fromDefaults(defaults);
        return addToPrograms(edit.text, defaults, entry);
    }
    const auto listed = entries(lines, *r);
    for (size_t i = 0; i < listed.size(); ++i)
        if (programOf(listed[i]) == kHackName) {
            edit.number = static_cast<int>(i) + 1;
            return edit;
        }

    const std::string line = "  " + std::string(entry) + "  \\n\n";
    std::string text = joined(lines, 0, r->last);
    const std::string_view last = lines[r->last];
    std::string_view lastValue = content(last);
    if (r->last == r->first) lastValue.remove_prefix(r->valueAt);
    if (r->last > r->first && trimmed(lastValue).empty()) {
        // The list ends in a blank line: the new entry goes before it, joined as the others.
        text += line.substr(0, line.size() - 1) + "\\\n";
        text += last;
    } else {
        text += content(last);
        const std::string_view value = trimmed(lastValue);
        if (!value.empty() && (value.size() < 2 || value.substr(value.size() - 2) != "\\n"))
            text += " \\n";
        text += "\\\n" + line;
    }
    text += joined(lines, r->last + 1, lines.size());
    edit.text = std::move(text);
    edit.number = static_cast<int>(listed.size()) + 1;
    edit.added = true;
    return edit;
}

namespace {

std::optional<std::string> readWhole(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw Error(format("cannot read %s: %s", path.c_str(), std::strerror(errno)));
    }
    std::string text;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    const int err = errno;
    close(fd);
    if (n < 0) throw Error(format("cannot read %s: %s", path.c_str(), std::strerror(err)));
    return text;
}

// Written beside the file and renamed over it, so the daemon reads either the old or the new.
void replaceWhole(const std::string& path, const std::string& text, mode_t mode) {
    std::string temp = path + ".tarnwick-XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        throw Error(format("cannot write beside %s: %s", path.c_str(), std::strerror(errno)));
    size_t done = 0;
    bool ok = fchmod(fd, mode) == 0;
    while (ok && done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    const int err = errno;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        const int why = ok ? errno : err;
        unlink(temp.c_str());
        throw Error(format("cannot write %s: %s", path.c_str(), std::strerror(why)));
    }
}

} // namespace

ProgramsEdit addToUserFile(const std::string& home, const std::string& defaultsFile) {
    if (home.empty()) throw Error("HOME is not set");
    std::string path = home + "/.xscreensaver";
    // A linked file is edited where it lies, and stays linked.
    if (char* real = realpath(path.c_str(), nullptr)) {
        path = real;
        std::free(real);
    }
    const std::optional<std::string> user = readWhole(path);
    const std::string defaults = readWhole(defaultsFile).value_or(std::string());
    ProgramsEdit edit = addToPrograms(user, defaults);
    if (!edit.added) return edit;
    struct stat st {};
    mode_t mode;
    if (user && stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    replaceWhole(path, edit.text, mode);
    return edit;
}

} // namespace tarnwick::hack
