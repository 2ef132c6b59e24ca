// The library's version, readable from the file without loading it. The
// Windows DLL carries its version resource (version.rc); elsewhere the file
// holds the what-string "@(#)libquillon VERSION", which `quillon --version`
// and what(1)-style tools find.
#if !defined(_WIN32)
namespace {
[[gnu::used]] const char kVersionMark[] = "@(#)libquillon " QUILLON_VERSION;
}  // namespace
#endif
