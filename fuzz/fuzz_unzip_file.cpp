// The file-based extraction path: the input is written to an archive file
// and extracted from it into a folder four levels down a scratch tree,
// entry by entry through the reading API and then by the UNZIP export. Only
// the archive and the folder chain may exist afterwards; every extracted
// path must lie inside the folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "quillon.h"
#include "scratch_tree.h"
#include "zip/api/close_handle.h"
#include "zip/read/reader.h"

using namespace quillon;

namespace {

// Bytes the entries of one input may claim in all: a reader never writes
// more of an entry than its announced size, so this bounds the disk use of
// archives whose entries all point at the same compressed data.
constexpr uint64_t kOutputBudget = 8u << 20;

const char* const kChain[] = {"l1/", "l1/l2/", "l1/l2/l3/", "l1/l2/l3/out/"};

void check_tree(const std::string& root) {
  std::vector<std::string> found;
  fuzzkit::list_tree(root, "", &found);
  for (const std::string& p : found) {
    if (p == "archive.zip") continue;
    bool ok = p.compare(0, 13, "l1/l2/l3/out/") == 0;
    for (const char* c : kChain) ok = ok || p == c;
    if (!ok) std::abort();  // something landed outside the extraction folder
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (256u << 10)) return 0;
  const std::string& root = fuzzkit::scratch_root();
  const std::string archive = root + "archive.zip";
  const std::string out = root + "l1/l2/l3/out";
  qp::Handle h = qp::create_exclusive(archive.c_str(), qp::kAttrNormal);
  if (!qp::is_valid(h)) std::abort();
  uint32_t done = 0;
  qp::write_file(h, data, static_cast<uint32_t>(size), &done);
  qp::close_handle(h);

  // The API path, entry by entry, with a password for encrypted entries.
  uint64_t claimed = 0;
  bool all_counted = true;
  HZIP hz = OpenZip(archive.c_str(), "pw");
  if (hz != nullptr) {
    SetUnzipBaseDir(hz, out.c_str());
    ZIPENTRY ze;
    GetZipItem(hz, -1, &ze);
    const int count = ze.index;
    all_counted = count <= 256;
    for (int i = 0; i < count && i < 256; ++i) {
      if (GetZipItem(hz, i, &ze) != ZIPR_OK) continue;
      claimed += ze.uncompressed_size;
      if (claimed > kOutputBudget) break;
      UnzipItem(hz, i, ze.name);
    }
    CloseZipU(hz);
    check_tree(root);
  }

  // The export, which takes every entry, when the entries claim little.
  if (all_counted && claimed <= kOutputBudget / 2) {
    fuzzkit::remove_tree(root + "l1");
    UNZIP(archive.c_str(), out.c_str());
    check_tree(root);
  }
  fuzzkit::remove_tree(root + "l1");
  qp::delete_file(archive.c_str());
  return 0;
}
