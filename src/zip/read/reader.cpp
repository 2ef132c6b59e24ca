// ArchiveReader and the reading API around it.
#include "zip/read/reader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/dir.h"
#include "platform/file.h"
#include "platform/fileinfo.h"
#include "platform/pathname.h"
#include "platform/text.h"
#include "platform/time.h"
#include "zip/format/crc32.h"
#include "zip/format/dos_time.h"
#include "zip/format/records.h"
#include "zip/read/directory.h"

namespace quillon {

namespace {

// 16 KiB pieces gathered before one write.
constexpr uint32_t kWriteBatch = 4;

bool ends_in_separator(const std::string& s) { return !s.empty() && (s.back() == '/' || s.back() == '\\'); }

ZipFileTime split_time(uint64_t t) {
  return ZipFileTime{static_cast<uint32_t>(t), static_cast<uint32_t>(t >> 32)};
}

// The extraction buffer starts half a page off the page grid. zlib copies
// every piece it inflates into its window, a heap block that starts near the
// grid; were both at the same offset within their pages, the processor
// would take the copy's stores and loads for overlapping ones (4 KiB
// aliasing) and the copy would run several times slower.
unsigned char* alloc_buffer(size_t size, std::vector<unsigned char>* block) {
  constexpr uintptr_t kPage = 4096, kPhase = 2048 + 64;
  block->resize(size + kPage + kPhase);
  const uintptr_t start = reinterpret_cast<uintptr_t>(block->data());
  return block->data() + ((start + kPage - 1) / kPage * kPage + kPhase - start);
}

// An extracted file is written under a name of its own in its folder and
// takes its name only once it holds the entry: an entry that fails part way
// leaves a file of that name as it was. The names are short, so that a
// path that fits with the entry's name fits with this one too, and begin
// with a dot, so that listings hide the rare one that a crash leaves.
class Replacement {
 public:
  // `path` is the file's, `folder` the part of it before the file's name.
  Replacement(const std::string& folder, const std::string& path, bool utf8)
      : folder_(folder), path_(path), utf8_(utf8) {}
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;
  ~Replacement() { discard(); }

  // The new file, or kInvalidHandle when the entry's file is better written
  // in place, as it was before there were replacements: nothing in its
  // place may be replaced (a device, a pipe, a file this process holds or
  // may not write; the direct create then gives the same answer as ever),
  // or the folder takes no new name.
  qp::Handle create(uint32_t attributes) {
    if (!(utf8_ ? qp::may_replace_utf8(path_.c_str(), &existed_) : qp::may_replace(path_.c_str(), &existed_)))
      return qp::kInvalidHandle;
    static std::atomic<uint32_t> counter{static_cast<uint32_t>(
        std::chrono::steady_clock::now().time_since_epoch().count())};
    for (int attempt = 0; attempt < 4; ++attempt) {
      char step[16];
      std::snprintf(step, sizeof step, ".qn%08x", static_cast<unsigned>(counter.fetch_add(0x9e3779b9u)));
      temp_ = folder_ + step;
      qp::Handle h = utf8_ ? qp::create_new_utf8(temp_.c_str(), attributes) : qp::create_new(temp_.c_str(), attributes);
      if (qp::is_valid(h)) return h;
    }
    temp_.clear();
    return qp::kInvalidHandle;
  }

  // Gives the closed file its name. A file that holds the entry whole, or
  // holds what there was of it where no file stood, takes it; otherwise the
  // file that stood there stays and the new one goes.
  bool finish(bool whole) {
    if (temp_.empty()) return true;
    if (!whole && existed_) return discard(), true;
    const bool moved = utf8_ ? qp::replace_file_utf8(temp_.c_str(), path_.c_str())
                             : qp::replace_file(temp_.c_str(), path_.c_str());
    if (moved) temp_.clear();
    discard();
    return moved;
  }

 private:
  void discard() {
    if (temp_.empty()) return;
    utf8_ ? qp::discard_new_utf8(temp_.c_str()) : qp::discard_new(temp_.c_str());
    temp_.clear();
  }

  const std::string folder_;
  const std::string& path_;
  const bool utf8_;
  bool existed_ = false;
  std::string temp_;
};

uint64_t join_time(const ZipFileTime& t) { return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime; }

// The entry's Windows attributes: DOS bits when the archive was made on a
// system that keeps them (MS-DOS, Macintosh, MVS, VFAT: hosts 0, 7, 11, 14),
// otherwise derived from the Unix mode in the high half: a directory when
// the mode's directory bit is set, read-only without the owner's write bit.
uint32_t entry_attributes(uint32_t version_made_by, uint32_t external) {
  const uint32_t host = host_of(version_made_by);
  const uint32_t mode = unix_mode_of(external);
  // The type field decides: block devices (0060000) and sockets (0140000)
  // share the directory's bit, and every type but a folder is a file here.
  bool directory = (mode & kUnixTypeMask) == kUnixTypeDirectory;
  bool read_only = (mode & kUnixOwnerWrite) == 0;
  bool hidden = false, system = false, archive = true;
  if (host == kHostMsDos || host == kHostMacintosh || host == kHostMvs || host == kHostVfat) {
    read_only = (external & kDosReadOnly) != 0;
    hidden = (external & kDosHidden) != 0;
    system = (external & kDosSystem) != 0;
    directory = (external & kDosDirectory) != 0;
    archive = (external & kDosArchive) != 0;
  }
  uint32_t attributes = 0;
  if (directory) attributes |= qp::kAttrDirectory;
  if (archive) attributes |= qp::kAttrArchive;
  if (hidden) attributes |= qp::kAttrHidden;
  if (read_only) attributes |= qp::kAttrReadOnly;
  if (system) attributes |= qp::kAttrSystem;
  return attributes;
}

// An entry's times as its extra fields give them: each of the modification,
// access and creation time from the first source that holds it, in this
// order: the "UT" block of the local header, then that of the central
// record (whose copy may hold only the modification time), the NTFS block
// (APPNOTE 4.5.5) of either, Info-ZIP's older Unix block (0x5855) of
// either. A time none holds keeps the DOS stamp. Each block is the first of
// its tag in its field, and a time is taken only where it lies within the
// block's own length; a block too short for its times gives none of them.
struct EntryTimes {
  enum { kModify, kAccess, kCreate };
  uint64_t value[3] = {0, 0, 0};
  bool held[3] = {false, false, false};
  void offer(int which, uint64_t t) {
    if (held[which]) return;
    value[which] = t;
    held[which] = true;
  }
  // 0 stands for a time the writer did not keep (7-Zip leaves the access
  // and creation time so); from 2^63 on no system takes the value as a time.
  void offer_file_time(int which, uint64_t t) {
    if (t != 0 && t < (uint64_t(1) << 63)) offer(which, t);
  }
  void take_block(const unsigned char* extra, uint32_t size, uint16_t tag) {
    uint32_t length = 0;
    const unsigned char* block = find_extra_block(extra, size, tag, &length);
    if (block == nullptr) return;
    if (tag == ExtendedTimestamp::kId) {
      ExtendedTimestamp ut;
      if (!ut.decode(block, length)) return;
      if (ut.held & ExtendedTimestamp::kModification) offer(kModify, file_time_of_unix_time(ut.modification_time));
      if (ut.held & ExtendedTimestamp::kAccess) offer(kAccess, file_time_of_unix_time(ut.access_time));
      if (ut.held & ExtendedTimestamp::kCreation) offer(kCreate, file_time_of_unix_time(ut.creation_time));
    } else if (tag == NtfsExtra::kId) {
      NtfsExtra ntfs;
      if (!ntfs.decode(block, length)) return;
      offer_file_time(kModify, ntfs.modification_time);
      offer_file_time(kAccess, ntfs.access_time);
      offer_file_time(kCreate, ntfs.creation_time);
    } else if (tag == InfoZipUnixExtra::kId) {
      InfoZipUnixExtra ux;
      if (!ux.decode(block, length)) return;
      offer(kModify, file_time_of_unix_time(ux.modification_time));
      offer(kAccess, file_time_of_unix_time(ux.access_time));
    }
  }
};

void read_timestamps(const unsigned char* local, uint32_t local_size, const unsigned char* central,
                     uint32_t central_size, ZIPENTRY* ze) {
  EntryTimes times;
  for (uint16_t tag : {ExtendedTimestamp::kId, NtfsExtra::kId, InfoZipUnixExtra::kId}) {
    times.take_block(local, local_size, tag);
    times.take_block(central, central_size, tag);
  }
  ZipFileTime* targets[3] = {&ze->modify_time, &ze->access_time, &ze->create_time};
  for (int i = 0; i < 3; ++i)
    if (times.held[i]) *targets[i] = split_time(times.value[i]);
}

// A size of the reader (64-bit) in a 32-bit field of ZIPENTRY: sizes that do
// not fit show as 0xFFFFFFFF, the format's own mark for "see the Zip64 field".
uint32_t size32(uint64_t size) { return size < kZip64Marker ? static_cast<uint32_t>(size) : kZip64Marker; }

bool is_ascii(const char* s) {
  for (; *s; ++s)
    if (static_cast<unsigned char>(*s) >= 0x80) return false;
  return true;
}

// The current entry's name: the stored bytes, or the name of an Info-ZIP
// Unicode Path block (APPNOTE 4.6.9) whose CRC matches the stored name.
// `utf8` tells that the name is known to be UTF-8: flag bit 11 over a valid
// UTF-8 name, or such a block. A flagged name that is not valid UTF-8 is read
// as an unflagged one.
struct EntryName {
  std::string bytes;
  bool utf8 = false;
};

// `central_extra`, when given, receives the central record's extra field.
bool read_entry_name(ZipArchive* a, EntryRecord* info, EntryName* out,
                     std::vector<unsigned char>* central_extra = nullptr) {
  const uint32_t name_length = a->entry.central.name_length, extra_length = a->entry.central.extra_length;
  std::vector<char> name(name_length + 1);
  std::vector<unsigned char> own_copy;
  std::vector<unsigned char>& extra = central_extra != nullptr ? *central_extra : own_copy;
  extra.assign(extra_length + 1, 0);
  if (read_entry_record(a, info, name.data(), name_length + 1, extra.data(), extra_length, nullptr, 0) != kReadOk)
    return false;
  extra.resize(extra_length);
  out->bytes = name.data();
  out->utf8 = false;
  if (a->entry.central.flags & kFlagUtf8Name) {
    out->utf8 = qp::is_valid_utf8(out->bytes.data(), out->bytes.size());
    return true;
  }
  uint32_t length = 0;
  const unsigned char* block = find_extra_block(extra.data(), extra_length, UnicodePathExtra::kId, &length);
  UnicodePathExtra up;
  if (up.decode(block, length) && up.version == 1 &&
      up.name_crc == crc32(0, reinterpret_cast<const unsigned char*>(name.data()), name_length)) {
    const std::string unicode(reinterpret_cast<const char*>(up.name), up.name_length);
    if (unicode.find('\0') == std::string::npos && qp::is_valid_utf8(unicode.data(), unicode.size())) {
      out->bytes = unicode;
      out->utf8 = true;
    }
  }
  return true;
}

// The lookup's test: the stored name, or the entry's UTF-8 name and its form
// in the system's code page.
struct Wanted {
  const char* name;
  int case_mode;
};

bool entry_matches(ZipArchive* a, const char* stored, void* context) {
  const Wanted* w = static_cast<const Wanted*>(context);
  if (compare_names(stored, w->name, w->case_mode) == 0) return true;
  if (!(a->entry.central.flags & kFlagUtf8Name) && a->entry.central.extra_length == 0) return false;
  EntryName n;
  if (!read_entry_name(a, nullptr, &n) || !n.utf8) return false;
  if (compare_names(n.bytes.c_str(), w->name, w->case_mode) == 0) return true;
  std::string system;
  return !qp::system_text_is_utf8() && qp::system_from_utf8(n.bytes.c_str(), &system, nullptr) &&
         compare_names(system.c_str(), w->name, w->case_mode) == 0;
}

}  // namespace

ArchiveReader::ArchiveReader(const char* password) : password_(password != nullptr ? password : "") {}

ArchiveReader::~ArchiveReader() = default;

ZIPRESULT ArchiveReader::Open(const void* source, uint32_t length, uint32_t kind) {
  if (archive_ != nullptr || open_index_ != -1) return ZIPR_NOTINITIALISED;
  char cwd[4096];
  const uint32_t n = qp::current_directory(sizeof cwd, cwd);
  if (n == 0 || n >= sizeof cwd) {
    base_dir_.clear();  // no usable folder: relative destinations are refused
  } else {
    base_dir_ = cwd;
    if (!ends_in_separator(base_dir_)) base_dir_ += '/';
  }
  if (kind == ZIPSRC_HANDLE && handle_position(const_cast<void*>(source)) == kNoSourcePosition) return ZIPR_UNSEEKABLE;
  ZIPRESULT err = ZIPR_OK;
  ByteSourcePtr f(open_byte_source(source, length, kind, &err));
  if (f == nullptr) return err;
  archive_ = open_archive(std::move(f));
  if (archive_ == nullptr) return ZIPR_OPENFAILED;
  return ZIPR_OK;
}

ZIPRESULT ArchiveReader::SetUnzipBaseDir(const char* dir) {
  // An empty text names no folder: it would make the base the root of the
  // file system and scatter the entries there. It stands for the current
  // directory instead, as if no base folder had been set.
  base_dir_ = *dir != '\0' ? dir : "./";
  // A backslash separates steps here as it does in entry names: where the
  // system takes it for an ordinary character it becomes '/', so that
  // "out\\" is the folder out and not a sibling named "out\\".
  qp::use_system_separators(&base_dir_);
  if (!ends_in_separator(base_dir_)) base_dir_ += '/';
  // A folder beyond the system's limits, or one that leaves no room for a
  // name, is kept whole rather than cut into another folder: every
  // extraction under it then fails.
  return PathFits(base_dir_ + "x", false) ? ZIPR_OK : ZIPR_BADARGS;
}

void ArchiveReader::close_stream() {
  if (open_index_ != -1) {
    close_entry_stream(archive_.get());
    open_index_ = -1;
  }
}

bool ArchiveReader::walk_to(int index) {
  // One read of the entry's record, found in the index made at open: the
  // cost is the same in any order of visits.
  const uint32_t target = static_cast<uint32_t>(index);
  if (target == archive_->entry_number) return archive_->entry_ok;
  return go_to_entry(archive_.get(), target) == kReadOk;
}

ZIPRESULT ArchiveReader::Get(int index, ZIPENTRY* ze) {
  if (archive_ == nullptr || ze == nullptr) return ZIPR_BADARGS;
  const int count = static_cast<int>(archive_->entry_count);
  if (index < -1 || index >= count) return ZIPR_BADARGS;
  close_stream();
  if (index != -1 && index == cached_index_) {
    *ze = cached_entry_;
    return ZIPR_OK;
  }
  if (index == -1) {
    std::memset(ze, 0, sizeof *ze);
    ze->index = count;
    return ZIPR_OK;
  }
  if (!walk_to(index)) return ZIPR_CORRUPT;

  // The stored name (or the UTF-8 name that stands for it) is cut to the
  // entry's buffer (259 characters) first and then cleaned, so that what a
  // long name holds beyond that length never decides what is left of the
  // name shown. A UTF-8 name is cut before a whole character. Extraction
  // under the name shown makes the whole name, cleaned as a whole.
  EntryName name;
  EntryRecord info;
  std::vector<unsigned char> central_extra;
  if (!read_entry_name(archive_.get(), &info, &name, &central_extra)) return ZIPR_CORRUPT;
  const std::string whole = CleanEntryName(name.bytes.c_str());
  if (name.bytes.size() > size_t(kMaxPath - 1)) {
    size_t cut = kMaxPath - 1;
    while (name.utf8 && cut > 0 && (static_cast<unsigned char>(name.bytes[cut]) & 0xC0) == 0x80) --cut;
    name.bytes.resize(cut);
  }
  // The local header's extra field may hold the entry's times; the header
  // stays read for the entry's stream.
  if (read_local_header(archive_.get()) != kReadOk) return ZIPR_CORRUPT;
  const LocalHeaderFacts& local = archive_->local_header;
  if (!local.extra.empty() && !local.extra_read) return ZIPR_READFAILED;

  ZIPENTRY e;
  std::memset(&e, 0, sizeof e);
  e.index = static_cast<int>(archive_->entry_number);
  const char* clean = CleanEntryName(name.bytes.c_str());
  // A UTF-8 name is shown in the system's code page, with '?' for what the
  // code page lacks; extraction under that name makes the exact one.
  std::string shown = clean, utf8_name, whole_name = whole;
  if (name.utf8 && !qp::system_text_is_utf8()) {
    if (!is_ascii(clean)) qp::system_from_utf8(clean, &shown, nullptr);
    if (!is_ascii(whole.c_str())) {
      qp::system_from_utf8(whole.c_str(), &whole_name, nullptr);
      utf8_name = whole;
    }
  }
  std::strncpy(e.name, shown.c_str(), kMaxPath - 1);
  e.name[kMaxPath - 1] = '\0';
  e.attributes = entry_attributes(info.central.version_made_by, info.central.external_attributes);
  e.compressed_size = size32(info.compressed_size);
  e.uncompressed_size = size32(info.uncompressed_size);
  const uint64_t zoned = file_time_of_dos_stamp(info.central.dos_datetime);
  uint64_t utc = zoned;
  if (!qp::local_file_time_to_file_time(zoned, &utc)) utc = zoned;
  e.access_time = e.create_time = e.modify_time = split_time(utc);
  read_timestamps(local.extra.data(), static_cast<uint32_t>(local.extra.size()), central_extra.data(),
                  static_cast<uint32_t>(central_extra.size()), &e);

  // Files made on a Unix host keep their read, write and execute bits (never
  // setuid, setgid or sticky), where the system has them, whatever their
  // type: a pipe read by `zip -` (010600) or a device comes out as a regular
  // file with its own bits, as Info-ZIP's unzip and bsdtar restore them. A
  // symbolic link is extracted as a regular file that holds the link's
  // text, with the usual permissions, not the link's rwxrwxrwx.
  const uint32_t mode = unix_mode_of(info.central.external_attributes), type = mode & kUnixTypeMask;
  cached_has_mode_ = host_of(info.central.version_made_by) == kHostUnix && mode != 0 && type != kUnixTypeSymlink &&
                     type != kUnixTypeDirectory;
  cached_mode_ = mode & kUnixPermissionMask;
  cached_utf8_name_ = utf8_name;
  if (whole_name == e.name) whole_name.clear();
  cached_whole_name_.swap(whole_name);

  *ze = e;
  cached_entry_ = e;
  cached_index_ = index;
  return ZIPR_OK;
}

ZIPRESULT ArchiveReader::GetWholeName(int index, std::string* name) {
  ZIPENTRY ze;
  const ZIPRESULT r = Get(index, &ze);
  if (r != ZIPR_OK) return r;
  *name = cached_whole_name_.empty() ? std::string(ze.name) : cached_whole_name_;
  return ZIPR_OK;
}

ZIPRESULT ArchiveReader::Find(const char* name, bool ignore_case, int* index, ZIPENTRY* ze) {
  if (archive_ == nullptr || name == nullptr) return ZIPR_BADARGS;
  // A name is found in either form: as stored, or (for a UTF-8 name) in
  // UTF-8 or in the system's code page.
  Wanted wanted{name, ignore_case ? 2 : 1};
  if (std::strlen(name) >= 256 || locate_entry_matching(archive_.get(), entry_matches, &wanted) != kReadOk) {
    if (index != nullptr) *index = -1;
    if (ze != nullptr) {
      std::memset(ze, 0, sizeof *ze);
      ze->index = -1;
    }
    return ZIPR_NOTFOUND;
  }
  close_stream();
  const int found = static_cast<int>(archive_->entry_number);
  if (index != nullptr) *index = found;
  if (ze != nullptr) {
    const ZIPRESULT r = Get(found, ze);
    if (r != ZIPR_OK) return r;
  }
  return ZIPR_OK;
}

ZIPRESULT ArchiveReader::unzip_to_memory(int index, void* destination, uint32_t length) {
  if (destination == nullptr && length != 0) return ZIPR_BADARGS;
  if (open_index_ != index) {
    close_stream();
    if (index >= static_cast<int>(archive_->entry_count)) return ZIPR_BADARGS;
    if (!walk_to(index)) return ZIPR_CORRUPT;
    // An entry the reader refuses (records that disagree, or bytes that
    // overlap another entry's) delivers nothing; other failures show up in
    // the read.
    if (open_entry_stream(archive_.get(), password_.c_str()) == kReadBadArchive) return ZIPR_CORRUPT;
    open_index_ = index;
  }
  bool reached_end = false;
  const int res = read_entry_stream(archive_.get(), destination, length, &reached_end);
  // The piece that reaches the end closes the stream too, so that the next
  // call for this item starts it over instead of reporting an empty success.
  // Bytes that do not match the entry's CRC are damaged (or deciphered with
  // a wrong password whose check byte matched by chance): the entry is not
  // reported whole.
  bool damaged = false;
  if (res <= 0 || reached_end) {
    damaged = close_entry_stream(archive_.get()) == kReadCrcMismatch && reached_end;
    open_index_ = -1;
  }
  if (damaged) return ZIPR_CORRUPT;
  if (reached_end) return ZIPR_OK;
  if (res > 0) return ZIPR_MOREDATA;
  if (res == kReadBadPassword) return ZIPR_PASSWORD;
  return ZIPR_FLATEERROR;
}

bool ArchiveReader::place(const char* destination, const ZIPENTRY& ze, Placement* at) const {
  at->utf8 = false;
  at->base = base_dir_;
  if (std::strcmp(destination, ze.name) == 0) {
    if (!cached_utf8_name_.empty()) {
      at->utf8 = true;
      destination = cached_utf8_name_.c_str();
      at->base = qp::utf8_from_system(base_dir_.c_str());
    } else if (!cached_whole_name_.empty()) {
      destination = cached_whole_name_.c_str();
    }
  }
  if (!MakeOutputPath(destination, &at->out)) return false;
  return at->out.absolute || !base_dir_.empty();
}

bool ArchiveReader::RestoreFolderTimes(int index) {
  if (archive_ == nullptr || index < 0) return false;
  ZIPENTRY ze;
  if (Get(index, &ze) != ZIPR_OK || !(ze.attributes & qp::kAttrDirectory)) return false;
  // The folder that unzip_to_file makes for the entry under its own name.
  Placement at;
  if (!place(ze.name, ze, &at)) return false;
  std::string folder = at.out.dirs + at.out.file;
  while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  // A name that leaves no step of its own names the base folder (or a
  // root), which is not the entry's to change.
  if (folder.size() == qp::drive_prefix_length(folder.data(), folder.size())) return false;
  if (!at.out.absolute) folder = at.base + folder;
  if (!PathFits(folder, at.utf8)) return false;
  const uint64_t create = join_time(ze.create_time), access = join_time(ze.access_time),
                 modify = join_time(ze.modify_time);
  return at.utf8 ? qp::set_folder_times_utf8(folder.c_str(), &create, &access, &modify)
                 : qp::set_folder_times(folder.c_str(), &create, &access, &modify);
}

ZIPRESULT ArchiveReader::unzip_to_file(int index, void* destination, uint32_t kind) {
  close_stream();
  if (index >= static_cast<int>(archive_->entry_count)) return ZIPR_BADARGS;
  if (kind == ZIPSRC_FILENAME && destination == nullptr) return ZIPR_BADARGS;
  // The stream opened below reads the reader's current entry, so the walk
  // comes first even when the description is cached.
  if (!walk_to(index)) return ZIPR_CORRUPT;
  ZIPENTRY ze;
  const ZIPRESULT got = Get(index, &ze);
  if (got != ZIPR_OK) return got;
  // The entry's stream opens before anything is made, so that an entry the
  // reader refuses (records that disagree, or bytes that overlap another
  // entry's) writes nothing: no file, no folder. Other failures show up in
  // the first read.
  if (open_entry_stream(archive_.get(), password_.c_str()) == kReadBadArchive) return ZIPR_CORRUPT;
  struct StreamCloser {
    ZipArchive* archive;
    ~StreamCloser() {
      if (archive->stream != nullptr) close_entry_stream(archive);
    }
  } closer{archive_.get()};

  // Where the file goes. The entry's own name as Get reported it stands for
  // its exact and whole name: a UTF-8 name that the code page cannot show
  // whole is made through the system's UTF-8 path functions, under the base
  // folder in UTF-8, and a name cut to fit `name` is made whole. Any other
  // destination is a system text, as it always was.
  Placement at;
  if (kind == ZIPSRC_FILENAME && !place(static_cast<const char*>(destination), ze, &at)) return ZIPR_OPENFAILED;
  const bool utf8 = at.utf8;
  const std::string& base = at.base;
  const OutputPath& out = at.out;
  std::string path;
  if (kind == ZIPSRC_FILENAME) {
    const char* root = out.absolute ? nullptr : base.c_str();
    auto ensure = [&](const std::string& dirs) {
      utf8 ? EnsureDirectoryUtf8(root, dirs.c_str()) : EnsureDirectory(root, dirs.c_str());
    };
    if (ze.attributes & qp::kAttrDirectory) {
      std::string dirs = out.dirs;
      if (!out.file.empty()) dirs += out.file + "/";
      if (!PathFits(out.absolute ? dirs : base + dirs, utf8)) return ZIPR_OPENFAILED;
      ensure(dirs);
      return ZIPR_OK;
    }
    path = (out.absolute ? std::string() : base) + out.dirs + out.file;
    if (!PathFits(path, utf8)) return ZIPR_OPENFAILED;
    if (out.file.empty()) {  // the destination names a folder
      ensure(out.dirs);
      return ZIPR_OPENFAILED;
    }
  } else if (ze.attributes & qp::kAttrDirectory) {
    return ZIPR_OK;  // nothing to write: the handle is not even looked at
  } else if (!qp::is_valid(destination)) {
    return ZIPR_BADARGS;
  }

  // The entry's first piece is read before anything is made on disk: an
  // entry that fails before it gives a byte (no password or a wrong one, a
  // stream that cannot start or inflate) leaves no file, not even an empty
  // one, and no folder for it.
  if (buffer_ == nullptr) buffer_ = alloc_buffer(kWriteBatch * kEntryChunkSize, &buffer_block_);
  bool reached_end = false;
  int res = read_entry_stream(archive_.get(), buffer_, kEntryChunkSize, &reached_end);
  if (res < 0 || (res == 0 && !reached_end)) return res == kReadBadPassword ? ZIPR_PASSWORD : ZIPR_FLATEERROR;

  qp::Handle h = destination;
  // A file made here is closed on every way out, before its replacement is
  // given its name or dropped; the caller's handle stays open.
  Replacement replacement(path.substr(0, path.size() - out.file.size()), path, utf8);
  struct FileCloser {
    qp::Handle made = nullptr;
    void close() {
      if (made != nullptr) qp::close_handle(made);
      made = nullptr;
    }
    ~FileCloser() { close(); }
  } file_closer;
  if (kind == ZIPSRC_FILENAME) {
    const char* root = out.absolute ? nullptr : base.c_str();
    utf8 ? EnsureDirectoryUtf8(root, out.dirs.c_str()) : EnsureDirectory(root, out.dirs.c_str());
    h = replacement.create(ze.attributes);
    if (!qp::is_valid(h))
      h = utf8 ? qp::create_exclusive_utf8(path.c_str(), ze.attributes) : qp::create_exclusive(path.c_str(), ze.attributes);
    if (!qp::is_valid(h)) return ZIPR_OPENFAILED;
    file_closer.made = h;
    if (cached_has_mode_) qp::set_unix_permissions(h, cached_mode_);
  }

  ZIPRESULT result = ZIPR_OK;
  // The entry is read in 16 KiB pieces and written four pieces at a time:
  // fewer writes, and fewer times that a write pushes the inflater's
  // window out of the caches.
  uint32_t pending = 0;
  auto flush = [&] {
    uint32_t written = 0;
    const bool ok = pending == 0 || (qp::write_file(h, buffer_, pending, &written) && written == pending);
    pending = 0;
    return ok;
  };
  for (;;) {
    pending += static_cast<uint32_t>(res);
    if (pending > (kWriteBatch - 1) * kEntryChunkSize && !flush()) {
      result = ZIPR_WRITEFAILED;
      break;
    }
    if (reached_end) break;
    if (res == 0) {
      result = ZIPR_FLATEERROR;
      break;
    }
    res = read_entry_stream(archive_.get(), buffer_ + pending, kEntryChunkSize, &reached_end);
    if (res == kReadBadPassword) {
      result = ZIPR_PASSWORD;
      break;
    }
    if (res < 0) {
      result = ZIPR_FLATEERROR;
      break;
    }
  }
  // What was read before a failure is written too, as it would have been
  // piece by piece.
  if (!flush() && result == ZIPR_OK) result = ZIPR_WRITEFAILED;
  // Every byte was read and written: the file gets the entry's times, even
  // when its bytes turn out not to match the entry's CRC below.
  if (result == ZIPR_OK) {
    const uint64_t create = join_time(ze.create_time), access = join_time(ze.access_time),
                   modify = join_time(ze.modify_time);
    qp::set_file_times(h, &create, &access, &modify);
  }
  // A file whose bytes do not match the entry's CRC is damaged: it stays on
  // disk, as after any failure, but the extraction is not reported whole.
  if (archive_->stream != nullptr && close_entry_stream(archive_.get()) == kReadCrcMismatch && result == ZIPR_OK)
    result = ZIPR_CORRUPT;
  file_closer.close();
  if (!replacement.finish(result == ZIPR_OK || result == ZIPR_CORRUPT) && result == ZIPR_OK) result = ZIPR_WRITEFAILED;
  return result;
}

ZIPRESULT ArchiveReader::Unzip(int index, void* destination, uint32_t length, uint32_t kind) {
  if (archive_ == nullptr) return ZIPR_BADARGS;
  if ((kind != ZIPSRC_HANDLE && kind != ZIPSRC_FILENAME && kind != ZIPSRC_MEMORY) || index < 0)
    return ZIPR_BADARGS;
  if (kind == ZIPSRC_MEMORY) return unzip_to_memory(index, destination, length);
  return unzip_to_file(index, destination, kind);
}

ZIPRESULT ArchiveReader::Close() {
  if (archive_ != nullptr) {
    close_stream();
    archive_.reset();
  }
  return ZIPR_OK;
}

// ---------------------------------------------------------------------------
// The API: handle checks around the ArchiveReader methods, every result recorded.

namespace {

// The reading object behind a handle; sets *result when there is none.
ArchiveReader* reader_of(HZIP hz, ZIPRESULT* result) {
  if (hz == nullptr) {
    *result = ZIPR_BADARGS;
    return nullptr;
  }
  if (hz->kind != kReadingHandle) {
    *result = ZIPR_MIXEDMODE;
    return nullptr;
  }
  return static_cast<ArchiveReader*>(hz->object);
}

}  // namespace

HZIP OpenZipInternal(const void* source, uint32_t length, uint32_t kind, const char* password) {
  // The object is owned here until its handle record exists, so that
  // running out of memory on the way leaks neither it nor its archive.
  auto u = std::make_unique<ArchiveReader>(password);
  lasterrorU = u->Open(source, length, kind);
  if (lasterrorU != ZIPR_OK) return nullptr;
  auto h = std::make_unique<ZipHandleRecord>(ZipHandleRecord{kReadingHandle, nullptr});
  h->object = u.release();  // from here the record owns it (CloseZipU frees both)
  return h.release();
}

HZIP OpenZipHandle(qp::Handle h, const char* password) { return OpenZipInternal(h, 0, ZIPSRC_HANDLE, password); }

HZIP OpenZip(const char* file_name, const char* password) {
  return OpenZipInternal(file_name, 0, ZIPSRC_FILENAME, password);
}

HZIP OpenZip(const void* memory, uint32_t length, const char* password) {
  return OpenZipInternal(memory, length, ZIPSRC_MEMORY, password);
}

ZIPRESULT GetZipItem(HZIP hz, int index, ZIPENTRY* ze) {
  if (ze != nullptr) {
    ze->index = 0;
    ze->name[0] = '\0';
    ze->uncompressed_size = 0;
  }
  ZIPRESULT r = ZIPR_OK;
  ArchiveReader* u = reader_of(hz, &r);
  if (u != nullptr) r = u->Get(index, ze);
  return lasterrorU = r;
}

ZIPRESULT FindZipItem(HZIP hz, const char* name, bool ignore_case, int* index, ZIPENTRY* ze) {
  ZIPRESULT r = ZIPR_OK;
  ArchiveReader* u = reader_of(hz, &r);
  if (u != nullptr) r = u->Find(name, ignore_case, index, ze);
  return lasterrorU = r;
}

ZIPRESULT UnzipItemInternal(HZIP hz, int index, void* destination, uint32_t length, uint32_t kind) {
  ZIPRESULT r = ZIPR_OK;
  ArchiveReader* u = reader_of(hz, &r);
  if (u != nullptr) r = u->Unzip(index, destination, length, kind);
  return lasterrorU = r;
}

ZIPRESULT UnzipItemHandle(HZIP hz, int index, qp::Handle h) {
  return UnzipItemInternal(hz, index, h, 0, ZIPSRC_HANDLE);
}

ZIPRESULT UnzipItem(HZIP hz, int index, const char* file_name) {
  return UnzipItemInternal(hz, index, const_cast<char*>(file_name), 0, ZIPSRC_FILENAME);
}

ZIPRESULT UnzipItem(HZIP hz, int index, void* memory, uint32_t length) {
  return UnzipItemInternal(hz, index, memory, length, ZIPSRC_MEMORY);
}

bool RestoreFolderTimes(HZIP hz, int index) {
  ZIPRESULT r = ZIPR_OK;
  ArchiveReader* u = reader_of(hz, &r);
  return u != nullptr && u->RestoreFolderTimes(index);
}

ZIPRESULT SetUnzipBaseDir(HZIP hz, const char* dir) {
  ZIPRESULT r = ZIPR_OK;
  ArchiveReader* u = reader_of(hz, &r);
  if (u != nullptr) r = dir == nullptr ? ZIPR_BADARGS : u->SetUnzipBaseDir(dir);
  return lasterrorU = r;
}

}  // namespace quillon
