// Tour step: MD5 and SHA-1 digests of texts.
#include "demo.h"

namespace host {
namespace {

DemoRegistration reg(30, "digests", [](DemoContext& c) {
  for (const char* t : {"abc", "", "The quick brown fox jumps over the lazy dog"}) {
    const std::string label = std::string("(\"") + t + "\")";
    show("HASHmd5" + label, c.lib.text("HASHmd5", {txt(t)}));
    show("HASHsha1" + label, c.lib.text("HASHsha1", {txt(t)}));
  }
});

}  // namespace
}  // namespace host
