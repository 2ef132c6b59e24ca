// Workers extract the entries of an archive, each with a reader of its own
// on the archive file. The calling thread first describes every entry (as
// the one-thread loop does) and sorts the entries into groups that must not
// run side by side: entries whose output paths are the same file for the
// system, and an entry that makes a file together with every entry that
// needs that path as a folder. A group runs in archive order on one worker,
// so the later entry wins as it does in one thread; different groups touch
// different files and may run in any order. Folders are made by whichever
// entry needs them first, a folder entry or a file inside; making a folder
// that exists already changes nothing. Folder entries get their times on
// the calling thread once every worker has ended.
#include "zip/read/extract_parallel.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/file.h"
#include "platform/pathname.h"
#include "platform/thread.h"
#include "zip/read/reader.h"

namespace quillon {

namespace {

// The output path of an entry in a form equal for every two entries that
// may reach the same file: its steps, each as the system compares it, each
// followed by '/'. Empty when the entry writes nothing. *alias is set when
// a step may be a short name for another.
std::string path_key(const char* name, bool* makes_file, bool is_folder, bool* alias) {
  OutputPath out;
  if (!MakeOutputPath(name, &out)) return std::string();
  *makes_file = !is_folder && !out.file.empty();
  const std::string path = out.dirs + out.file;
  std::string key = out.absolute ? "\x01" : "";
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/' || path[i] == '\\') {
      if (i > start) {
        key += qp::step_identity(path.data() + start, i - start) + '/';
        if (qp::step_may_be_alias(path.data() + start, i - start)) *alias = true;
      }
      start = i + 1;
    }
  }
  return key;
}

struct UnionFind {
  std::vector<int> parent;
  explicit UnionFind(int n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
  int find(int x) {
    while (parent[x] != x) x = parent[x] = parent[parent[x]];
    return x;
  }
  void unite(int a, int b) {
    a = find(a);
    b = find(b);
    if (a != b) parent[a < b ? b : a] = a < b ? a : b;
  }
};

struct Shared {
  const char* archive;
  const char* folder;
  const std::vector<std::string>* names;
  const std::vector<std::vector<int>>* groups;
  std::vector<ZIPRESULT>* results;
  qp::Mutex mutex;
  size_t next_group = 0;  // groups before it are taken
};

void worker_loop(Shared& sh) {
  // A reader of its own: its own handle on the archive, inflater and buffer.
  ArchiveReader reader(nullptr);
  if (reader.Open(sh.archive, 0, ZIPSRC_FILENAME) != ZIPR_OK) return;  // the calling thread takes over
  reader.SetUnzipBaseDir(sh.folder);
  for (;;) {
    size_t g;
    {
      qp::MutexLock hold(sh.mutex);
      if (sh.next_group == sh.groups->size()) break;
      g = sh.next_group++;
    }
    for (int i : (*sh.groups)[g]) {
      char* name = const_cast<char*>((*sh.names)[i].c_str());
      ZIPRESULT r;
      try {
        r = reader.Unzip(i, name, 0, ZIPSRC_FILENAME);
      } catch (...) {
        r = ZIPR_NOMEMORY;  // nothing may leave a worker thread
      }
      (*sh.results)[i] = r;
    }
  }
  reader.Close();
}

void worker_main(void* context, unsigned) {
  try {
    worker_loop(*static_cast<Shared*>(context));
  } catch (...) {
    // Opening the reader ran out of memory: the groups it did not take are
    // extracted by the calling thread.
  }
}

}  // namespace

bool unzip_entries_parallel(HZIP h, const char* archive, const char* folder, int count, unsigned threads) {
  if (count <= 0) return true;
  std::vector<std::string> names(count), keys(count);
  std::vector<ZIPRESULT> results(count, ZIPR_OK);
  std::vector<bool> makes_file(count, false), described(count, false), is_folder(count, false);
  std::vector<uint64_t> weight(count, 0);
  bool alias = false;
  ZIPENTRY entry;
  for (int i = 0; i < count; ++i) {
    if (GetZipItem(h, i, &entry) != ZIPR_OK) {
      // An entry that cannot be described is not extracted either; the call
      // only gives its result, as it would in the loop.
      results[i] = UnzipItem(h, i, entry.name);
      continue;
    }
    described[i] = true;
    names[i] = entry.name;
    // The entry lands at its whole name, which `name` may hold cut: the
    // whole name decides what it may share with other entries.
    std::string whole;
    if (static_cast<ArchiveReader*>(h->object)->GetWholeName(i, &whole) != ZIPR_OK) whole = entry.name;
    is_folder[i] = (entry.attributes & qp::kAttrDirectory) != 0;
    bool file = false;
    keys[i] = path_key(whole.c_str(), &file, is_folder[i], &alias);
    makes_file[i] = file;
    // Roughly what extracting it costs: its bytes, and a file to make.
    weight[i] = uint64_t(entry.uncompressed_size) + 4096;
  }

  // Entries on one path belong together; so does an entry that makes a file
  // with every entry below that path.
  UnionFind sets(count);
  std::unordered_map<std::string, int> first_at;
  std::unordered_set<std::string> file_paths;
  for (int i = 0; i < count; ++i) {
    if (keys[i].empty()) continue;
    auto at = first_at.emplace(keys[i], i);
    if (!at.second) sets.unite(i, at.first->second);
    if (makes_file[i]) file_paths.insert(keys[i]);
  }
  // A short alias may name any entry's file: nothing can run apart then.
  if (alias)
    for (int i = 1; i < count; ++i) sets.unite(i, 0);
  if (!file_paths.empty()) {
    for (int i = 0; i < count; ++i) {
      const std::string& key = keys[i];
      for (size_t end = key.find('/'); end != std::string::npos && end + 1 < key.size(); end = key.find('/', end + 1)) {
        const std::string above = key.substr(0, end + 1);
        if (file_paths.count(above)) sets.unite(i, first_at[above]);
      }
    }
  }
  std::vector<std::vector<int>> groups;
  std::vector<int> group_of(count, -1);
  for (int i = 0; i < count; ++i) {
    if (!described[i]) continue;
    const int root = sets.find(i);
    if (group_of[root] < 0) {
      group_of[root] = static_cast<int>(groups.size());
      groups.emplace_back();
    }
    groups[group_of[root]].push_back(i);
  }
  // The heaviest groups first, so that no worker is left with a large one
  // at the end while the others idle.
  std::vector<uint64_t> group_weight(groups.size(), 0);
  for (size_t g = 0; g < groups.size(); ++g)
    for (int i : groups[g]) group_weight[g] += weight[i];
  std::vector<size_t> order(groups.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return group_weight[a] > group_weight[b]; });
  std::vector<std::vector<int>> sorted(groups.size());
  for (size_t k = 0; k < order.size(); ++k) sorted[k].swap(groups[order[k]]);
  groups.swap(sorted);

  Shared sh;
  sh.archive = archive;
  sh.folder = folder;
  sh.names = &names;
  sh.groups = &groups;
  sh.results = &results;
  {
    qp::Workers workers;
    const unsigned want = groups.size() < threads ? static_cast<unsigned>(groups.size()) : threads;
    if (want > 1) workers.start(want, worker_main, &sh);
    workers.join();
  }
  // Groups that no worker took (none could start, or none could open the
  // archive) are extracted here.
  for (size_t g = sh.next_group; g < groups.size(); ++g)
    for (int i : groups[g]) results[i] = UnzipItem(h, i, names[i].c_str());
  // Every worker has ended: the folder items get their times here, as the
  // loop gives them once every item is done.
  for (int i = 0; i < count; ++i)
    if (described[i] && is_folder[i] && results[i] == ZIPR_OK) RestoreFolderTimes(h, i);
  // The loop leaves the last entry's result behind.
  lasterrorU = results[count - 1];
  return std::all_of(results.begin(), results.end(), [](ZIPRESULT r) { return r == ZIPR_OK; });
}

}  // namespace quillon
