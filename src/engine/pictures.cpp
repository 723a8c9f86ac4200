// What the camera looks at: the desktop snapshot with its transform, or the listed picture files.
#include "engine/scrsavermain.h"

#include "imaging/bitmap.h"
#include "imaging/builtin_picture.h"
#include "imaging/capture.h"
#include "imaging/picture_loader.h"
#include "imaging/transforms.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace tarnwick {

std::string TForm1::Nextfilename() {
    if (!pictureList || pictureList->empty()) return {};
    ++pictureIndex;
    if (pictureIndex >= static_cast<int32_t>(pictureList->size())) pictureIndex = 0;
    return (*pictureList)[static_cast<size_t>(pictureIndex)];
}

bool TForm1::LoadNextPicture(bool announce) {
    const std::string name = Nextfilename();
    // Missing, a folder, or an empty name.
    const auto stamp = services_.platform.files.fileStamp(name);
    if (!stamp) {
        dropPrepared();
        return false;
    }
    if (!module_.CopyBitmap) return false;
    PicturePreparer::Job job{pictureIndex, name, *stamp};
    if (failedBefore(job)) return false;
    // The entry decoded ahead is used unless the file changed since it was asked for.
    const bool underWay = preparing_ && preparing_->index == job.index &&
                          preparing_->path == job.path && preparing_->stamp == job.stamp;
    if (!underWay && !startPreparing(std::move(job))) return false;
    pendingChange_ = announce;
    return true;
}

bool TForm1::TakePreparedPicture() {
    if (!pendingChange_ || !preparer_) return false;
    std::optional<PicturePreparer::Result> prepared = preparer_->take();
    if (!prepared) return false;
    const bool announce = *pendingChange_;
    pendingChange_.reset();
    preparing_.reset();
    if (!module_.CopyBitmap) return false;
    const PicturePreparer::Job& job = prepared->job;
    const auto stamp = services_.platform.files.fileStamp(job.path);
    if (stamp && *stamp != job.stamp) {
        // Rewritten or replaced since it was read: the change waits for it as it is now.
        if (startPreparing({job.index, job.path, *stamp})) pendingChange_ = announce;
        return false;
    }
    if (prepared->error || !prepared->picture) {
        try {
            if (prepared->error) std::rethrow_exception(prepared->error);
        } catch (const std::bad_alloc&) {
            // Short of memory now, perhaps not next time.
        } catch (...) {
            failed_[job.path] = job.stamp;
        }
        PrepareNextPicture();
        return false;
    }
    const int32_t oldW = module_.CopyBitmap->width();
    const int32_t oldH = module_.CopyBitmap->height();
    // The decoded picture becomes CopyBitmap's content; no second copy stays alive.
    CopyGraphicToBitmap(*module_.CopyBitmap, std::move(prepared->picture));
    if (!module_.Synced) SyncSize();
    if (announce) {
        if (PlaySounds) services_.platform.sound.play(1);
        if (lcx != 0 && oldW > 0 && oldH > 0) {
            const double newW = module_.CopyBitmap->width();
            const double newH = module_.CopyBitmap->height();
            auto scale = [](double size, int32_t v, int32_t old) {
                return static_cast<int32_t>(std::trunc(size * (static_cast<double>(v) / old)));
            };
            cx = scale(newW, cx, oldW);
            lcx = scale(newW, lcx, oldW);
            cy = scale(newH, cy, oldH);
            lcy = scale(newH, lcy, oldH);
        }
    }
    PrepareNextPicture();
    return true;
}

void TForm1::PrepareNextPicture() {
    if (UseDesktop || !pictureList || pictureList->empty() || pendingChange_) return;
    int32_t next = pictureIndex + 1;
    if (next >= static_cast<int32_t>(pictureList->size())) next = 0;
    const std::string& name = (*pictureList)[static_cast<size_t>(next)];
    // The tick finds a missing entry missing again and passes over it without a load.
    const auto stamp = services_.platform.files.fileStamp(name);
    PicturePreparer::Job job{next, name, stamp.value_or(platform::FileStamp{})};
    if (!stamp || failedBefore(job)) {
        dropPrepared();
        return;
    }
    if (preparing_ && preparing_->index == job.index && preparing_->path == job.path &&
        preparing_->stamp == job.stamp)
        return; // under way already
    startPreparing(std::move(job));
}

bool TForm1::startPreparing(PicturePreparer::Job job) {
    try {
        // The built-in loader holds nothing of the form's: the end need not wait for the worker,
        // which at its low priority may be slow to notice the stop on a busy machine.
        if (!preparer_)
            preparer_ = std::make_unique<PicturePreparer>(loader_, !!services_.pictureLoader);
        preparing_ = job;
        preparer_->prepare(std::move(job));
        return true;
    } catch (const std::exception&) {
        // No worker (out of threads or memory): the picture is not shown.
        preparing_.reset();
        return false;
    }
}

bool TForm1::failedBefore(const PicturePreparer::Job& job) const {
    const auto it = failed_.find(job.path);
    return it != failed_.end() && it->second == job.stamp;
}

void TForm1::dropPrepared() {
    if (preparer_) preparer_->cancel();
    preparing_.reset();
    pendingChange_.reset();
}

namespace {

// The desktop's proportions, with at least 1080 rows so that the picture's line can be read in the
// widest view on a small screen too, and at most 8K so that drawing it stays quick.
Size builtinPictureSize(Size desktop) {
    if (desktop.width <= 0 || desktop.height <= 0) return {1920, 1080};
    const double grow = std::max(1.0, 1080.0 / desktop.height);
    const double shrink =
        std::min({1.0, 7680.0 / (desktop.width * grow), 4320.0 / (desktop.height * grow)});
    return {std::max(1, static_cast<int32_t>(desktop.width * grow * shrink)),
            std::max(1, static_cast<int32_t>(desktop.height * grow * shrink))};
}

} // namespace

std::unique_ptr<WorkBitmap> TForm1::PlaceholderPicture() {
    // The saver's own picture without its line: pictures are chosen, the first is on its way.
    const Rect desktop = services_.platform.screen.virtualDesktop();
    const Size size = builtinPictureSize({desktop.width(), desktop.height()});
    return builtinPicture(size.width, size.height, {});
}

void TForm1::TakeDesktopSnapshot() {
    auto& screen = services_.platform.screen;
    const Rect desktop = screen.virtualDesktop();
    std::string hint(kBuiltinPictureHint);
    builtinShown_ = false;
    try {
        module_.CopyBitmap =
            CaptureScreenRect(screen, {0, 0, desktop.width(), desktop.height()}, desktop);
        // All black is a desktop covered by a locker or a saver's window, or one that could not
        // be read: nothing to fly over.
        if (!allBlack(*module_.CopyBitmap)) return;
    } catch (const platform::DesktopWithheld& e) {
        hint = e.what();
    } catch (const Error&) {
        // The screen cannot be read: the saver's own picture instead.
    }
    const Size size = builtinPictureSize({desktop.width(), desktop.height()});
    module_.CopyBitmap = builtinPicture(size.width, size.height, hint);
    builtinShown_ = true;
}

void TForm1::ApplyDesktopSetting(int32_t index) {
    // The saver's own picture stays upright and sharp, so that its line can be read.
    if (builtinShown_) return;
    switch (index) {
    case 1:
        RotateDesktop(90);
        break;
    case 2:
        RotateDesktop(180);
        break;
    case 3:
        RotateDesktop(270);
        break;
    case 4:
        WarpDesktop();
        break;
    case 5:
        BlurDesktop();
        break;
    default:
        break;
    }
    // The desktop picture stays for the whole run: the block a transform freed is of no more use.
    ReleaseSparePixels();
}

void TForm1::RotateDesktop(int32_t angle) {
    WorkBitmap& source = *module_.CopyBitmap;
    auto tmp = NewWorkBitmap();
    if (angle == 180)
        SetBitmapSize(*tmp, source.width(), source.height());
    else
        SetBitmapSize(*tmp, source.height(), source.width());
    RotateBitmap(source, *tmp, tmp->width() / 2, tmp->height() / 2, angle);
    module_.CopyBitmap = std::move(tmp);
}

int32_t WarpAmount(Random& random) {
    return 45 * (random(52) + 13);
}

void TForm1::WarpDesktop() {
    WorkBitmap& source = *module_.CopyBitmap;
    auto tmp = NewWorkBitmap();
    SetBitmapSize(*tmp, source.width(), source.height());
    module_.random.seedFromClock();
    WarpBitmap(source, *tmp, WarpAmount(module_.random));
    module_.CopyBitmap = std::move(tmp);
}

void TForm1::BlurDesktop() {
    BlurBitmap(*module_.CopyBitmap, 11);
}

void TForm1::JvThreadTimer1Timer(TJvThreadTimer&) {
    if (!services_.window.visible()) return;
    // A change still waiting for its picture keeps its turn; the next one comes after it.
    if (pendingChange_) return;
    JvThreadTimer2->setActive(false);
    try {
        // Ready already (decoded ahead): the change happens now, else at a later refresh tick.
        if (LoadNextPicture(true)) TakePreparedPicture();
    } catch (...) {
        // A failed change keeps the previous picture; the next tick takes the next entry.
    }
    if (!pendingChange_) PrepareNextPicture();
    JvThreadTimer2->setActive(true);
}

} // namespace tarnwick
