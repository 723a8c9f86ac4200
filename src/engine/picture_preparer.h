#pragma once
// Decodes the picture the saver shows next on a worker thread of its own, so that a tick only
// swaps it in. The worker owns the picture it decodes until it puts the finished result into a
// one-slot mailbox; only the main thread empties it (take, cancel). The main thread never waits
// for the worker: the worker runs at a lower priority, and a wait would let a busy machine hold
// the saver's input behind it.
#include "imaging/bitmap.h"
#include "platform/files.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace tarnwick {

class PicturePreparer {
public:
    using Loader =
        std::function<std::unique_ptr<WorkBitmap>(const std::string& path, std::stop_token)>;

    // What to decode: the list entry, and the file's stamp when it was asked for.
    struct Job {
        int32_t index = 0;
        std::string path;
        platform::FileStamp stamp;
    };
    // A finished job: the picture, or the error its load raised.
    struct Result {
        Job job;
        std::unique_ptr<WorkBitmap> picture;
        std::exception_ptr error;
    };

    // `loader` runs on the worker; it must use nothing the main thread touches, nor anything the
    // owner frees (see the destructor). With `waitAtEnd` false the loader must hold nothing of
    // anyone else's at all.
    explicit PicturePreparer(Loader loader, bool waitAtEnd = true);
    // Stops a load under way and waits for the worker to end, or with `waitAtEnd` false lets it
    // end alone: at its low priority on a busy machine it may take a while to notice.
    ~PicturePreparer();
    PicturePreparer(const PicturePreparer&) = delete;
    PicturePreparer& operator=(const PicturePreparer&) = delete;

    // Starts decoding `job`; a job under way is cancelled and an untaken result dropped.
    void prepare(Job job);
    // The result of the job last given once it is finished; nullopt while it is still being
    // decoded, or when no job was given since the last take or cancel. Never waits.
    std::optional<Result> take();
    // Waits up to `timeout` until the job last given has finished; true when it has (or there is
    // none). For tests and benchmarks: the saver itself never waits for a decode.
    bool waitUntilDone(std::chrono::milliseconds timeout);
    // Cancels a job under way and drops its result; returns at once.
    void cancel();

private:
    // Shared with the worker thread.
    struct State {
        Loader loader;
        std::mutex mutex;
        std::condition_variable changed;
        std::optional<Job> queued;     // given, not yet picked up by the worker
        bool working = false;          // the worker is loading
        std::optional<Result> mailbox; // finished, not yet taken
        std::stop_source jobStop;      // stops the load under way
        bool ending = false;           // the owner is gone: the worker ends
    };
    static void run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
    std::thread worker_;
    bool waitAtEnd_;
};

} // namespace tarnwick
