#pragma once
// The per-user store as one REGEDIT4 text file, by default $XDG_CONFIG_HOME/tarnwick/user.reg.
//
// File format (what Windows' regedit imports): a "REGEDIT4" line, then one section per key,
// "[HKEY_CURRENT_USER\Software\Tarnwick]", each followed by its values. A key that was only
// implied by a deeper section of a file read (and holds no values) gets no section of its own:
// regedit and this reader create it from its children's sections. Values:
//   "name"="text"        a REG_SZ whose bytes are text plus one terminating zero; in the text
//                        (and in every quoted name) \ is written \\ and " is written \"
//   "name"=dword:0000002a a four-byte REG_DWORD
//   "name"=hex:01,ff     REG_BINARY;   "name"=hex(N):..  any other type N (in hex)
//   @=...                the key's unnamed value
// A string is written in quotes only when that form gives back exactly its bytes: a string
// holding a line break or a zero byte, or lacking its terminator, is written as hex(1):/hex(2):
// bytes, which every REGEDIT4 reader parses. All other bytes, including those of any ANSI code
// page, are written as they are. Lines end in CR LF; a hex list may go on over lines that end in
// "\". Reading also accepts LF line ends and ";" comment lines.
//
// Safety: readers need no lock, because the file is only ever replaced whole (temporary file,
// fsync, rename, fsync of the folder). Writers hold an flock on "<file>.lock" beside it for their
// whole read-modify-write, and remove temporary files that a crashed writer left behind. A file
// that cannot be read or parsed is never written over: the error names the file and the line.
// Only a regular file is read or replaced (a symbolic link is followed to one); the lock file
// must be a regular file itself, never a link; a key path
// deeper than 512 levels or longer than 32767 characters, a store of more than 65536 keys, or a
// file over 256 MiB, is refused.
// Every error caused by a failed system call carries the system's reason.
#include "platform/reg_tree.h"
#include "platform/registry.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tarnwick::platform {

// $XDG_CONFIG_HOME/tarnwick/user.reg, or ~/.config/tarnwick/user.reg when XDG_CONFIG_HOME is
// unset or not an absolute path; ~ is $HOME, or the user database's home folder when HOME is
// unset or not an absolute path.
std::string defaultRegistryPath();

// Throws RegistryError (Unreadable) naming `fileName` and the line.
RegTree parseRegistryText(std::string_view text, const std::string& fileName);
std::string formatRegistryText(const RegTree& tree);
// The same into `out`, whose memory is reused.
void formatRegistryText(const RegTree& tree, std::string& out);

class FileRegistry : public Registry {
public:
    FileRegistry(); // at defaultRegistryPath()
    explicit FileRegistry(std::string path);

    std::unique_ptr<RegistryReader> read() override;
    std::unique_ptr<RegistryWriter> write() override;

    const std::string& path() const { return path_; }

    // Runs in commit() after the temporary file is complete and synced, right before the rename;
    // lets tests stop a writer at the one moment a crash would hurt most.
    void setBeforeRename(std::function<void(const std::string& tempPath)> hook) {
        beforeRename_ = std::move(hook);
    }

private:
    std::string path_;
    std::function<void(const std::string&)> beforeRename_;
};

} // namespace tarnwick::platform
