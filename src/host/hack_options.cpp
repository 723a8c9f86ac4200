// The hack's options, and the run-only store that carries them to the settings reader.
#include "host/hack_options.h"

#include "settings/settings_names.h"
#include "settings/text_forms.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <unordered_set>

namespace tarnwick::hack {

namespace {

constexpr std::array<std::string_view, 4> kPathNames{"sine", "zigzag", "average", "drunken"};
constexpr std::array<std::string_view, 6> kDesktopNames{"normal",    "rotate90", "rotate180",
                                                        "rotate270", "warp",     "blur"};

// The dialog's own limits, so a run cannot use a setting the dialog could not store.
constexpr int32_t kCycleMin = 250, kCycleMax = 32767;
constexpr int32_t kRefreshMin = 0, kRefreshMax = 2000;
constexpr double kZoomMin = 0.01, kZoomMax = 1.0;

template <size_t N>
std::optional<int32_t> indexOf(const std::array<std::string_view, N>& names, std::string_view s) {
    for (size_t i = 0; i < N; ++i)
        if (names[i] == s) return static_cast<int32_t>(i);
    return std::nullopt;
}

template <size_t N> std::string joined(const std::array<std::string_view, N>& names) {
    std::string s;
    for (auto n : names) s += (s.empty() ? "" : "|") + std::string(n);
    return s;
}

int32_t millis(const std::string& option, const std::string& text, int32_t lo, int32_t hi) {
    const auto n = parseStoredInt(text);
    if (!n || *n < lo || *n > hi)
        throw OptionError(format("%s: \"%s\" is not a number of milliseconds from %d to %d",
                                 option.c_str(), text.c_str(), lo, hi));
    return *n;
}

bool hasControlChar(std::string_view s) {
    return std::any_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 32; });
}

// Upper-cased, empty components dropped: the store's own rule for matching key paths.
std::string normalisedPath(std::string_view path) {
    std::string out;
    size_t i = 0;
    while (i <= path.size()) {
        const size_t j = std::min(path.find('\\', i), path.size());
        if (j > i) out += (out.empty() ? "" : "\\") + upperAscii(path.substr(i, j - i));
        i = j + 1;
    }
    return out;
}

// Names in the order first seen, each once whatever its letter case; linear in their number, as
// a picture list may hold hundreds of thousands.
class UniqueNames {
public:
    void add(const std::string& name) {
        if (seen_.insert(upperAscii(name)).second) names_.push_back(name);
    }
    std::vector<std::string> take() { return std::move(names_); }

private:
    std::vector<std::string> names_;
    std::unordered_set<std::string> seen_;
};

using Layer = RunOnlyRegistry::Layer;

// The three layers seen as one; with a commit target it also takes changes for the run.
class LayeredView final : public platform::RegistryWriter {
public:
    LayeredView(std::unique_ptr<platform::RegistryReader> base, const Layer& overrides,
                const Layer& session, Layer* target)
        : base_(std::move(base)), overrides_(overrides), session_(session), target_(target) {}

    bool keyExists(std::string_view path) const override {
        const std::string k = normalisedPath(path);
        return overrides_.hasKey(k) || session_.hasKey(k) || base_->keyExists(path);
    }
    std::optional<platform::RegValue> queryValue(std::string_view keyPath,
                                                 std::string_view name) const override {
        const auto key = std::make_pair(normalisedPath(keyPath), upperAscii(name));
        for (const Layer* layer : {&overrides_, &session_})
            if (auto it = layer->values.find(key); it != layer->values.end())
                return it->second.second;
        return base_->queryValue(keyPath, name);
    }
    std::vector<std::string> subKeyNames(std::string_view path) const override {
        UniqueNames names;
        for (const auto& n : base_->subKeyNames(path)) names.add(n);
        const std::string k = normalisedPath(path);
        const std::string prefix = k.empty() ? "" : k + "\\";
        for (const Layer* layer : {&overrides_, &session_})
            for (const auto& [norm, written] : layer->keys) {
                if (norm.size() <= prefix.size() || norm.compare(0, prefix.size(), prefix) != 0 ||
                    norm.find('\\', prefix.size()) != std::string::npos)
                    continue;
                names.add(written.substr(written.rfind('\\') + 1));
            }
        return names.take();
    }
    std::vector<std::string> valueNames(std::string_view path) const override {
        UniqueNames names;
        const std::string k = normalisedPath(path);
        for (const Layer* layer : {&overrides_, &session_})
            for (const auto& [key, entry] : layer->values)
                if (key.first == k) names.add(entry.first);
        for (const auto& n : base_->valueNames(path)) names.add(n);
        return names.take();
    }

    bool createKey(std::string_view path) override {
        if (!target_ || hasControlChar(path)) return false;
        session_.addKey(path);
        return true;
    }
    bool setValue(std::string_view keyPath, std::string_view name,
                  platform::RegValue value) override {
        if (!target_ || hasControlChar(name) || !keyExists(keyPath)) return false;
        session_.values[{normalisedPath(keyPath), upperAscii(name)}] = {std::string(name),
                                                                        std::move(value)};
        return true;
    }
    // Only what the run wrote can be taken back; the real store is never changed.
    bool deleteValue(std::string_view keyPath, std::string_view name) override {
        return target_ && session_.values.erase({normalisedPath(keyPath), upperAscii(name)}) > 0;
    }
    bool deleteKey(std::string_view) override { return false; }
    void commit() override {
        if (target_) *target_ = session_;
    }

private:
    std::unique_ptr<platform::RegistryReader> base_;
    const Layer& overrides_;
    Layer session_; // a copy: changes reach the run's layer only at commit
    Layer* target_;
};

} // namespace

std::optional<WindowGeometry> parseGeometry(std::string_view text) {
    WindowGeometry g;
    if (!text.empty() && text.front() == '=') text.remove_prefix(1);
    // A number of at most 5 digits: no screen is wider, and it cannot overflow.
    auto number = [&text]() -> std::optional<int32_t> {
        size_t n = 0;
        while (n < text.size() && n < 6 && text[n] >= '0' && text[n] <= '9') ++n;
        if (n == 0 || n > 5) return std::nullopt;
        int32_t v = 0;
        std::from_chars(text.data(), text.data() + n, v);
        text.remove_prefix(n);
        return v;
    };
    if (!text.empty() && text.front() != '+' && text.front() != '-') {
        g.width = number();
        if (!g.width || *g.width == 0 || text.empty() ||
            (text.front() != 'x' && text.front() != 'X'))
            return std::nullopt;
        text.remove_prefix(1);
        g.height = number();
        if (!g.height || *g.height == 0) return std::nullopt;
    }
    if (!text.empty()) {
        for (auto [offset, negative] : {std::pair{&g.x, &g.fromRight}, {&g.y, &g.fromBottom}}) {
            if (text.empty() || (text.front() != '+' && text.front() != '-')) return std::nullopt;
            *negative = text.front() == '-';
            text.remove_prefix(1);
            *offset = number();
            if (!*offset) return std::nullopt;
        }
    }
    if (!text.empty() || (!g.width && !g.x)) return std::nullopt;
    return g;
}

std::optional<uint64_t> parseWindowId(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint64_t id = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), id, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || id == 0 ||
        id > 0xFFFFFFFFu)
        return std::nullopt;
    return id;
}

HackOptions parseHackOptions(const std::vector<std::string>& args) {
    HackOptions o;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string opt = args[i];
        if (opt.rfind("--", 0) == 0) opt.erase(0, 1);
        auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw OptionError(format("%s needs a value", opt.c_str()));
            return args[++i];
        };
        if (opt == "-root") {
            o.target = Target::Root;
        } else if (opt == "-window") {
            o.target = Target::Window;
        } else if (opt == "-window-id") {
            const std::string& v = value();
            const auto id = parseWindowId(v);
            if (!id) throw OptionError(format("-window-id: \"%s\" is not a window id", v.c_str()));
            o.target = Target::WindowId;
            o.windowId = *id;
        } else if (opt == "-display") {
            o.display = value();
        } else if (opt == "-geometry") {
            const std::string& v = value();
            o.geometry = parseGeometry(v);
            if (!o.geometry)
                throw OptionError(
                    format("-geometry: \"%s\" is not of the form WxH+X+Y", v.c_str()));
        } else if (opt == "-add-to-xscreensaver") {
            o.addToXScreenSaver = true;
        } else if (opt == "-visual") {
            value(); // the default visual serves every picture we draw
        } else if (opt == "-install" || opt == "-mono" || opt == "-pair") {
            // A private colormap, monochrome and a paired demo window mean nothing to a
            // true-colour saver drawing one window.
        } else if (opt == "-fps" || opt == "-no-fps") {
            o.fps = opt == "-fps";
        } else if (opt == "-delay") {
            const std::string& v = value();
            const auto us = parseStoredInt(v);
            constexpr int64_t kMaxUs = int64_t{kRefreshMax} * 1000 + 499;
            if (!us || *us < 0 || *us > kMaxUs)
                throw OptionError(
                    format("-delay: \"%s\" is not a number of microseconds from 0 to %lld",
                           v.c_str(), static_cast<long long>(kMaxUs)));
            o.refresh = static_cast<int32_t>((int64_t{*us} + 500) / 1000);
        } else if (opt == "-verbose") {
            o.verbose = true;
        } else if (opt == "-help" || opt == "-h") {
            o.help = true;
        } else if (opt == "-cycle") {
            o.cycle = millis(opt, value(), kCycleMin, kCycleMax);
        } else if (opt == "-refresh") {
            o.refresh = millis(opt, value(), kRefreshMin, kRefreshMax);
        } else if (opt == "-zoom") {
            const std::string& v = value();
            const auto z = parseStoredFloat(v);
            if (!z || !(*z >= kZoomMin && *z <= kZoomMax))
                throw OptionError(
                    format("-zoom: \"%s\" is not a number from 0.01 to 1", v.c_str()));
            o.zoom = *z;
        } else if (opt == "-zoom-percent") {
            // Whole numbers for the panel's slider, which reads fractions by the user's locale.
            const std::string& v = value();
            const auto n = parseStoredInt(v);
            if (!n || *n < 1 || *n > 100)
                throw OptionError(
                    format("-zoom-percent: \"%s\" is not a whole number from 1 to 100", v.c_str()));
            o.zoom = *n / 100.0;
        } else if (opt == "-path") {
            const std::string& v = value();
            o.path = indexOf(kPathNames, v);
            if (!o.path)
                throw OptionError(format("-path: \"%s\" is not one of %s", v.c_str(),
                                         joined(kPathNames).c_str()));
        } else if (opt == "-desktop") {
            const std::string& v = value();
            o.desktop = indexOf(kDesktopNames, v);
            if (!o.desktop)
                throw OptionError(format("-desktop: \"%s\" is not one of %s", v.c_str(),
                                         joined(kDesktopNames).c_str()));
        } else if (opt == "-sounds" || opt == "-no-sounds") {
            o.sounds = opt == "-sounds";
        } else if (opt == "-images") {
            const std::string& v = value();
            if (v.empty()) throw OptionError("-images: the folder name is empty");
            o.images = v;
        } else {
            throw OptionError(format("unknown option \"%s\"", args[i].c_str()));
        }
    }
    return o;
}

std::string usageText(const char* program) {
    return format("usage: %s [-root | -window | -window-id ID] [-display NAME] [-verbose]\n"
                  "  [-geometry WxH+X+Y] [-fps | -no-fps] [-cycle MS] [-refresh MS | -delay US]\n"
                  "  [-zoom 0.01..1 | -zoom-percent 1..100]\n"
                  "  [-path %s]\n"
                  "  [-sounds | -no-sounds] [-desktop %s] [-images DIR]\n"
                  "  (-visual V, -install, -mono and -pair are accepted and ignored)\n"
                  "       %s --add-to-xscreensaver   (adds Tarnwick to ~/.xscreensaver's list)\n",
                  program, joined(kPathNames).c_str(), joined(kDesktopNames).c_str(), program);
}

std::vector<std::pair<std::string, std::string>> sectionOverrides(const HackOptions& o) {
    std::vector<std::pair<std::string, std::string>> v;
    v.emplace_back(kCycleValue, std::to_string(o.cycle.value_or(kDefaultCycle)));
    v.emplace_back(kRefreshValue, std::to_string(o.refresh.value_or(kDefaultRefresh)));
    v.emplace_back(kMaxZoomValue, formatStoredFloat(o.zoom.value_or(kDefaultZoom)));
    if (o.path) v.emplace_back(kCameraPathValue, std::to_string(*o.path));
    v.emplace_back(kPlaySoundsValue, storedBoolText(o.sounds.value_or(kDefaultSounds)));
    if (o.desktop) v.emplace_back(kDesktopSettingValue, std::to_string(*o.desktop));
    // Pictures and a desktop effect exclude each other; the one asked for is the source.
    if (o.images)
        v.emplace_back(kUseDesktopValue, storedBoolText(false));
    else if (o.desktop)
        v.emplace_back(kUseDesktopValue, storedBoolText(true));
    return v;
}

std::vector<std::pair<std::string, std::string>>
pictureListOverrides(const std::vector<std::string>& pictures) {
    std::vector<std::pair<std::string, std::string>> v;
    v.emplace_back(kListCountValue, std::to_string(pictures.size()));
    for (size_t i = 0; i < pictures.size(); ++i)
        v.emplace_back(kListItemPrefix + std::to_string(i), pictures[i]);
    return v;
}

void Layer::addKey(std::string_view path) {
    // Every ancestor exists too, as in the store.
    std::string written;
    size_t i = 0;
    while (i <= path.size()) {
        const size_t j = std::min(path.find('\\', i), path.size());
        if (j > i) {
            written += (written.empty() ? "" : "\\") + std::string(path.substr(i, j - i));
            keys.emplace(normalisedPath(written), written);
        }
        i = j + 1;
    }
}

bool Layer::hasKey(const std::string& normalised) const {
    return normalised.empty() || keys.count(normalised) > 0;
}

RunOnlyRegistry::RunOnlyRegistry(platform::Registry& store, const Values& overrides)
    : store_(store) {
    for (const auto& [path, values] : overrides) {
        overrides_.addKey(path);
        for (const auto& [name, text] : values)
            overrides_.values[{normalisedPath(path), upperAscii(name)}] = {
                name, platform::RegValue::string(text)};
    }
}

std::unique_ptr<platform::RegistryReader> RunOnlyRegistry::read() {
    return std::make_unique<LayeredView>(store_.read(), overrides_, session_, nullptr);
}

std::unique_ptr<platform::RegistryWriter> RunOnlyRegistry::write() {
    return std::make_unique<LayeredView>(store_.read(), overrides_, session_, &session_);
}

} // namespace tarnwick::hack
