// Locked file operations. Lock order is always config file, then delta file,
// so loaders, stagers, committers and reverters cannot deadlock each other.
//
// A change is staged with the savedir delta held exclusively from loading
// to appending, so concurrent adds get distinct names; and a commit holds the
// config file exclusively from reading the deltas to emptying the savedir
// delta, so no staged change slips in between and is lost.
//
// A commit replaces the config file by rename while holding an exclusive
// lock on the old file and on the new one until the delta is emptied. Every
// opener re-checks after locking that the path still names the file it
// locked, so nobody reads the new file with the old delta, or the old file
// without it.
//
// A process killed in the middle leaves a consistent store as well. Before
// the rename a commit writes a marker beside the delta naming the new file
// (device, inode, size, mtime); while the config file is the one named, the
// delta's records are already in it, so readers skip them and the next
// writer of the delta empties it. A revert writes the records it keeps to a
// new file and renames it over the delta. Temporary files of killed commits
// and reverts are removed by the next one.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/uci/store.h"

namespace uci {

bool Stamp::operator==(const Stamp& o) const {
  return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
         mtime_sec == o.mtime_sec && mtime_nsec == o.mtime_nsec && ctime_sec == o.ctime_sec &&
         ctime_nsec == o.ctime_nsec;
}

namespace {

Stamp stamp_from(const struct stat& st) {
  Stamp s;
  s.exists = true;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime_sec = st.st_mtim.tv_sec;
  s.mtime_nsec = st.st_mtim.tv_nsec;
  s.ctime_sec = st.st_ctim.tv_sec;
  s.ctime_nsec = st.st_ctim.tv_nsec;
  return s;
}

int lock(int fd, int how) {
  while (::flock(fd, how) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// Opens path (O_CREAT creates it with mode) and locks it; retries when the
// path was replaced while waiting, so the file locked is the one it names.
int open_locked(const std::string& path, int flags, mode_t mode, int how, Fd& out,
                struct stat& st) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    Fd fd(::open(path.c_str(), flags | O_CLOEXEC, mode));
    if (!fd.ok()) return errno;
    if (int rc = lock(fd.get(), how)) return rc;
    struct stat now;
    if (::fstat(fd.get(), &st) != 0) return errno;
    if (::stat(path.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev) {
      out = std::move(fd);
      return 0;
    }
  }
  return EAGAIN;
}

bool read_all(int fd, std::string& text, off_t size_hint) {
  text.clear();
  text.reserve(size_hint > 0 ? static_cast<size_t>(size_hint) : 0);
  char buf[8192];
  off_t offset = 0;
  while (true) {
    ssize_t n = ::pread(fd, buf, sizeof buf, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buf, static_cast<size_t>(n));
    offset += n;
  }
}

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string marker_file(const std::string& dir, std::string_view package) {
  return dir + "/." + std::string(package) + ".committed";
}

// What a marker holds for a config file: its device, inode, size and mtime
// (a rename changes only the ctime).
std::string identity(const Stamp& s) {
  char text[128];
  std::snprintf(text, sizeof text, "%llu %llu %lld %lld %lld\n",
                static_cast<unsigned long long>(s.dev), static_cast<unsigned long long>(s.ino),
                static_cast<long long>(s.size), s.mtime_sec, s.mtime_nsec);
  return text;
}

// True when the marker names the config file: the delta is already in it.
// A missing, partly written or outdated marker names nothing.
bool marker_names(const std::string& marker, const Stamp& config) {
  Fd fd(::open(marker.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  std::string text;
  return fd.ok() && read_all(fd.get(), text, 0) && text == identity(config);
}

bool write_marker(const std::string& marker, const Stamp& config) {
  Fd fd(::open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  return fd.ok() && write_all(fd.get(), identity(config)) && ::fsync(fd.get()) == 0;
}

// Finishes what a killed commit left: run by every writer holding the delta
// exclusively, before it reads the delta.
int settle_commit(const std::string& marker, int delta_fd, const Stamp& config) {
  if (::access(marker.c_str(), F_OK) != 0) return ok;
  if (marker_names(marker, config) && ::ftruncate(delta_fd, 0) != 0) return err_io;
  ::unlink(marker.c_str());
  return ok;
}

// Removes the temporary files PREFIX-XXXXXX in dir that nobody holds locked
// any more: a live commit or revert keeps its own locked until it is done.
void remove_stale_temps(const std::string& dir, const std::string& prefix) {
  std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(dir.c_str()), ::closedir);
  if (!listing) return;
  while (struct dirent* entry = ::readdir(listing.get())) {
    std::string name = entry->d_name;
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
    std::string path = dir + "/" + name;
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat held, now;
    if (!fd.ok() || ::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) continue;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
    if (::lstat(path.c_str(), &now) == 0 && now.st_ino == held.st_ino) ::unlink(path.c_str());
  }
}

// Writes text to a new file PREFIX-XXXXXX in dir, locked, with the given
// mode and synced, and tells its name and what it looks like.
int write_temp(const std::string& dir, const std::string& prefix, const std::string& text,
               mode_t mode, Fd& out, std::string& temp, Stamp& written) {
  temp = dir + "/" + prefix + "XXXXXX";
  out = Fd(::mkostemp(&temp[0], O_CLOEXEC));
  if (!out.ok()) return err_io;
  bool done = lock(out.get(), LOCK_EX) == 0;
  crash_point();
  done = done && write_all(out.get(), text);
  crash_point();
  struct stat st;
  done = done && ::fsync(out.get()) == 0 && ::fchmod(out.get(), mode) == 0 &&
         ::fstat(out.get(), &st) == 0;
  if (!done) {
    ::unlink(temp.c_str());
    return err_io;
  }
  written = stamp_from(st);
  return ok;
}

// The savedir is made on first use, with the config directory's mode.
int ensure_savedir(const Store& store) {
  const std::string& dir = store.delta_dirs.back();
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? ok : err_io;
  mode_t mode = 0755;
  if (::stat(store.confdir.c_str(), &st) == 0) mode = st.st_mode & 07777;
  if (::mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) return err_io;
  return ok;
}

// Takes the savedir delta exclusively; for a stage it is created if missing.
int lock_savedir_delta(const Store& store, std::string_view package, Access access,
                       Loaded& loaded) {
  std::string path = delta_file(loaded.savedir, package);
  int flags = O_RDWR;
  if (access == Access::stage) {
    if (int rc = ensure_savedir(store)) return rc;
    flags |= O_CREAT;
  }
  Fd fd;
  struct stat st;
  int rc = open_locked(path, flags, loaded.config_mode & 0666, LOCK_EX, fd, st);
  if (rc) return rc == ENOENT && access == Access::commit ? ok : err_io;
  if (settle_commit(marker_file(loaded.savedir, package), fd.get(), loaded.stamps[0]))
    return err_io;
  loaded.delta_lock = std::move(fd);
  return ok;
}

void replay(const std::string& text, Loaded& loaded) {
  for (Record& r : parse_delta(text, loaded.pkg.name)) {
    if (!r.valid) continue;
    if (apply(loaded.pkg, r.delta)) ++loaded.applied;
    loaded.pkg.staged.push_back(std::move(r.delta));
  }
}

// Reads one delta directory's file for the package (a missing one is empty),
// unless a marker says its records are already in the config file.
void replay_dir(const std::string& dir, bool is_savedir, Loaded& loaded) {
  std::string text;
  struct stat st;
  if (is_savedir && loaded.delta_lock.ok()) {
    if (::fstat(loaded.delta_lock.get(), &st) != 0) return;
    loaded.stamps.push_back(stamp_from(st));
    if (read_all(loaded.delta_lock.get(), text, st.st_size)) replay(text, loaded);
    return;
  }
  Fd fd;
  if (open_locked(delta_file(dir, loaded.pkg.name), O_RDONLY | O_NONBLOCK, 0, LOCK_SH, fd, st) ||
      !S_ISREG(st.st_mode)) {
    loaded.stamps.push_back(Stamp{});
    return;
  }
  loaded.stamps.push_back(stamp_from(st));
  if (st.st_size > 0 && marker_names(marker_file(dir, loaded.pkg.name), loaded.stamps[0])) return;
  if (read_all(fd.get(), text, st.st_size)) replay(text, loaded);
}

std::string directory_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

void sync_directory(const std::string& dir) {
  Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.ok()) ::fsync(fd.get());
}

std::string temp_prefix(std::string_view package) {
  return "." + std::string(package) + ".uci-";
}

}  // namespace

Stamp stamp_of(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return Stamp{};
  return stamp_from(st);
}

std::string config_file(const Store& store, std::string_view package) {
  if (!store.overridedir.empty()) {
    std::string path = store.overridedir + "/" + std::string(package);
    if (::access(path.c_str(), F_OK) == 0) return path;
  }
  return store.confdir + "/" + std::string(package);
}

std::string delta_file(const std::string& dir, std::string_view package) {
  return dir + "/" + std::string(package);
}

namespace {

// The stamps of the delta files as replay_dir records them, without reading.
std::vector<Stamp> delta_stamps(const Store& store, const Loaded& loaded) {
  std::vector<Stamp> stamps;
  for (const std::string& dir : store.delta_dirs) {
    struct stat st;
    bool held = dir == store.delta_dirs.back() && loaded.delta_lock.ok();
    int rc = held ? ::fstat(loaded.delta_lock.get(), &st)
                  : ::stat(delta_file(dir, loaded.pkg.name).c_str(), &st);
    stamps.push_back(rc == 0 && S_ISREG(st.st_mode) ? stamp_from(st) : Stamp{});
  }
  return stamps;
}

// Takes over the view of an earlier load when the files still look as they
// did then; true when it did.
bool reuse_view(const Store& store, Loaded& loaded, Loaded* earlier) {
  if (!earlier || earlier->pkg.name != loaded.pkg.name) return false;
  std::vector<Stamp> now = delta_stamps(store, loaded);
  now.insert(now.begin(), loaded.stamps[0]);
  if (now != earlier->stamps) return false;
  loaded.pkg = std::move(earlier->pkg);
  loaded.skipped = std::move(earlier->skipped);
  loaded.applied = earlier->applied;
  loaded.stamps = std::move(now);
  earlier->pkg.name.clear();
  return true;
}

}  // namespace

int load(const Store& store, std::string_view package, Access access, bool strict, Loaded& loaded,
         Loaded* earlier) {
  if (!valid_package(package)) return err_invalid;
  loaded.pkg = Package{};
  loaded.pkg.name = std::string(package);
  loaded.config_path = config_file(store, package);
  loaded.savedir = store.delta_dirs.back();
  struct stat st;
  int rc = open_locked(loaded.config_path, O_RDONLY | O_NONBLOCK, 0,
                       access == Access::commit ? LOCK_EX : LOCK_SH, loaded.config_lock, st);
  if (rc) return rc == ENOENT || rc == ENOTDIR ? err_notfound : err_io;
  if (!S_ISREG(st.st_mode)) return err_notfound;
  loaded.config_mode = st.st_mode & 07777;
  loaded.stamps.assign(1, stamp_from(st));
  if (access != Access::read) {
    if (int err = lock_savedir_delta(store, package, access, loaded)) return err;
  }
  if (reuse_view(store, loaded, earlier)) {
    if (access == Access::read) loaded.config_lock.reset();
    return ok;
  }
  std::string text;
  if (!read_all(loaded.config_lock.get(), text, st.st_size)) return err_io;
  if (!parse_config(text, loaded.pkg, loaded.parse_error, strict, &loaded.skipped))
    return err_parse;
  text = std::string();
  const auto& dirs = store.delta_dirs;
  for (size_t i = 0; i < dirs.size(); ++i) {
    bool is_savedir = dirs[i] == dirs.back();
    replay_dir(dirs[i], is_savedir, loaded);
  }
  if (access == Access::read) loaded.config_lock.reset();
  return ok;
}

int append(Loaded& loaded, const std::vector<Delta>& deltas) {
  if (!loaded.delta_lock.ok()) return err_io;
  std::string text;
  for (const Delta& d : deltas) text += format_record(loaded.pkg.name, d);
  if (::lseek(loaded.delta_lock.get(), 0, SEEK_END) < 0) return err_io;
  if (!write_all(loaded.delta_lock.get(), text)) return err_io;
  // The view now holds the changes as a reader replaying the delta sees them.
  replay(text, loaded);
  struct stat st;
  if (::fstat(loaded.delta_lock.get(), &st) == 0) loaded.stamps.back() = stamp_from(st);
  return ok;
}

// Until the rename the old file and the full delta stand; from the rename
// on the marker names the new file, so its delta counts as empty even
// before it is truncated.
int commit(Loaded& loaded) {
  if (loaded.applied == 0) return ok;  // keep the file untouched, comments and all
  char resolved[PATH_MAX];
  if (!::realpath(loaded.config_path.c_str(), resolved)) return err_io;
  std::string target = resolved;
  std::string dir = directory_of(target);
  std::string prefix = temp_prefix(loaded.pkg.name);
  remove_stale_temps(dir, prefix);
  Fd out;
  std::string temp;
  Stamp written;
  if (int rc = write_temp(dir, prefix, format_config(loaded.pkg, false), loaded.config_mode, out,
                          temp, written))
    return rc;
  crash_point();
  struct stat st;
  bool staged =
      loaded.delta_lock.ok() && ::fstat(loaded.delta_lock.get(), &st) == 0 && st.st_size > 0;
  std::string marker = marker_file(loaded.savedir, loaded.pkg.name);
  if (staged && !write_marker(marker, written)) {
    ::unlink(marker.c_str());
    ::unlink(temp.c_str());
    return err_io;
  }
  crash_point();
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    if (staged) ::unlink(marker.c_str());
    ::unlink(temp.c_str());
    return err_io;
  }
  crash_point();
  sync_directory(dir);
  crash_point();
  if (!staged) return ok;
  // Readers that open the new file wait on its lock until the delta is empty.
  // Should the truncation fail, the marker still keeps the delta unread.
  if (::ftruncate(loaded.delta_lock.get(), 0) != 0) return ok;
  crash_point();
  ::unlink(marker.c_str());
  return ok;
}

int replace_config(const Store& store, const Package& pkg) {
  std::string path = config_file(store, pkg.name);
  Fd config_lock, delta_lock;
  struct stat st;
  mode_t mode = 0600;
  int rc = open_locked(path, O_RDONLY | O_NONBLOCK, 0, LOCK_EX, config_lock, st);
  if (rc == 0) {
    if (!S_ISREG(st.st_mode)) return err_io;
    mode = st.st_mode & 07777;
    // A delta a killed commit already wrote into the old file must not be
    // replayed onto the new one.
    const std::string& savedir = store.delta_dirs.back();
    struct stat delta_st;
    if (open_locked(delta_file(savedir, pkg.name), O_RDWR, 0, LOCK_EX, delta_lock, delta_st) == 0 &&
        settle_commit(marker_file(savedir, pkg.name), delta_lock.get(), stamp_from(st)))
      return err_io;
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return err_io;
    path = resolved;
  } else if (rc != ENOENT) {
    return err_io;
  }
  std::string dir = directory_of(path);
  std::string prefix = temp_prefix(pkg.name);
  if (config_lock.ok()) remove_stale_temps(dir, prefix);
  Fd out;
  std::string temp;
  Stamp written;
  if (write_temp(dir, prefix, format_config(pkg, false), mode, out, temp, written)) return err_io;
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return err_io;
  }
  sync_directory(dir);
  return ok;
}

int revert(const Store& store, std::string_view package, const RevertTarget& target) {
  // The config file is held exclusively, as by a commit, so stagers wait
  // there rather than find the delta replaced under them.
  Fd config_lock;
  struct stat st;
  if (open_locked(config_file(store, package), O_RDONLY | O_NONBLOCK, 0, LOCK_EX, config_lock, st))
    return err_notfound;
  Stamp config = stamp_from(st);
  const std::string& savedir = store.delta_dirs.back();
  std::string path = delta_file(savedir, package);
  Fd fd;
  if (int rc = open_locked(path, O_RDWR, 0, LOCK_EX, fd, st)) return rc == ENOENT ? ok : err_io;
  if (settle_commit(marker_file(savedir, package), fd.get(), config)) return err_io;
  if (target.section.empty()) return ::ftruncate(fd.get(), 0) == 0 ? ok : err_io;
  std::string text;
  if (::fstat(fd.get(), &st) != 0 || !read_all(fd.get(), text, st.st_size)) return err_io;
  std::string kept;
  for (const Record& r : parse_delta(text, package)) {
    if (!r.valid) {
      // Unreadable records are not ours to judge; keep them as they are.
      kept.append(r.raw);
      kept += '\n';
      continue;
    }
    bool matches = r.delta.section == target.section &&
                   (target.option.empty() || r.delta.option == target.option);
    if (!matches) kept += format_record(package, r.delta);
  }
  // The kept records go to a new file renamed over the delta, so a revert
  // killed at any point leaves either all records or the kept ones.
  std::string prefix = temp_prefix(package);
  remove_stale_temps(savedir, prefix);
  Fd out;
  std::string temp;
  Stamp written;
  if (int rc = write_temp(savedir, prefix, kept, st.st_mode & 07777, out, temp, written)) return rc;
  crash_point();
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return err_io;
  }
  return ok;
}

std::vector<std::string> list_packages(const std::string& confdir) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(confdir.c_str()), ::closedir);
  if (!dir) return names;
  while (struct dirent* entry = ::readdir(dir.get())) {
    std::string name = entry->d_name;
    if (!valid_package(name)) continue;  // also skips dotted names and temp files
    struct stat st;
    std::string path = confdir + "/" + name;
    if (::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace uci
