// The agent's read path: lookups against parsed packages kept in a small
// cache. A cached package is used only while its config file and delta file
// look exactly as when they were read, so a stat per file and read replaces
// a parse, and changes by other processes are seen at once.
#include <mutex>
#include <new>

#include "platform/uci/store.h"
#include "platform/uci/uci.h"

namespace uci {
namespace {

struct CachedPackage {
  std::string key;  // config file path and delta dir
  std::vector<Stamp> stamps;
  int error = ok;
  Package pkg;
};

constexpr size_t cache_capacity = 16;

std::mutex cache_mutex;
std::vector<CachedPackage> cache;  // most recently loaded last

std::vector<Stamp> current_stamps(const std::string& config_path, const Store& store,
                                  std::string_view package) {
  std::vector<Stamp> stamps;
  stamps.reserve(1 + store.delta_dirs.size());
  stamps.push_back(stamp_of(config_path));
  for (const std::string& dir : store.delta_dirs)
    stamps.push_back(stamp_of(delta_file(dir, package)));
  return stamps;
}

const CachedPackage& cached(const Store& store, const std::string& package) {
  std::string config_path = config_file(store, package);
  std::string key = config_path + '\n' + store.delta_dirs.back();
  std::vector<Stamp> now = current_stamps(config_path, store, package);
  for (const CachedPackage& entry : cache)
    if (entry.key == key && entry.stamps == now) return entry;

  Loaded loaded;
  CachedPackage fresh;
  fresh.key = key;
  fresh.error = load(store, package, Access::read, true, loaded);
  fresh.stamps = fresh.error == ok ? std::move(loaded.stamps) : now;
  fresh.pkg = std::move(loaded.pkg);
  fresh.pkg.staged.clear();
  for (auto it = cache.begin(); it != cache.end(); ++it) {
    if (it->key == key) {
      cache.erase(it);
      break;
    }
  }
  if (cache.size() >= cache_capacity) cache.erase(cache.begin());
  cache.push_back(std::move(fresh));
  return cache.back();
}

void fill_value(const Section& section, const Found& found, std::string& value) {
  if (found.option == npos) {
    value = section.type;
    return;
  }
  const Option& o = section.options[found.option];
  if (!o.is_list) {
    value = o.value;
    return;
  }
  for (size_t i = 0; i < o.items.size(); ++i) {
    if (i) value += ' ';
    value += o.items[i];
  }
}

// Hands the package as it is now to take, whose answer is returned; false
// when the package cannot be loaded.
template <typename Take>
bool with_package(const Dirs& dirs, const std::string& package, Take take) {
  Store store{dirs.confdir, dirs.overridedir, {dirs.savedir}};
  std::lock_guard<std::mutex> guard(cache_mutex);
  const CachedPackage& entry = cached(store, package);
  return entry.error == ok && take(entry.pkg);
}

// Resolves a path against its package as it is now and hands the package and
// what was found to take, whose answer is returned; false when the path does
// not resolve completely.
template <typename Take>
bool with_resolved(const Dirs& dirs, std::string_view path_text, Take take) {
  Path path;
  if (parse_path(path_text, path) != ok) return false;
  return with_package(dirs, path.package, [&](const Package& pkg) {
    Found found;
    return resolve(pkg, path, found) == ok && found.complete && take(pkg, found);
  });
}

}  // namespace

bool get(const Dirs& dirs, std::string_view path_text, std::string& value) {
  value.clear();
  try {
    return with_resolved(dirs, path_text, [&](const Package& pkg, const Found& found) {
      if (found.section != npos) fill_value(pkg.sections[found.section], found, value);
      return true;
    });
  } catch (const std::bad_alloc&) {
    value.clear();
    return false;
  }
}

bool section_name(const Dirs& dirs, std::string_view path_text, std::string& name) {
  name.clear();
  try {
    return with_resolved(dirs, path_text, [&](const Package& pkg, const Found& found) {
      if (found.section == npos) return false;
      name = pkg.sections[found.section].name;
      return true;
    });
  } catch (const std::bad_alloc&) {
    name.clear();
    return false;
  }
}

bool count_sections(const Dirs& dirs, std::string_view package, std::string_view type,
                    size_t& count) {
  count = 0;
  if (!valid_package(package)) return false;
  try {
    return with_package(dirs, std::string(package), [&](const Package& pkg) {
      for (const Section& section : pkg.sections) count += section.type == type;
      return true;
    });
  } catch (const std::bad_alloc&) {
    count = 0;
    return false;
  }
}

}  // namespace uci
