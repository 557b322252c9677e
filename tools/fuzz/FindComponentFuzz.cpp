// libFuzzer target: finding a component by path. Any path and separator
// give what resolving the path owner by owner, as its definition reads,
// gives; none crashes or recurses, however many separators it holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "toolkit/Toolkit.h"
#include "toolkit/psRTTI.h"
#include "vcl/Forms.h"

namespace {

// The definition: split at the last separator; the owner is the
// application for an empty owner path, else the owner path resolved the
// same way (recursively); then the name among the owner's components.
vcl::TComponent* Reference(std::string_view path, char separator) {
  const size_t last = path.rfind(separator);
  if (last == std::string_view::npos)
    return vcl::Application().FindComponent(std::string(path));
  const std::string_view ownerPath = path.substr(0, last);
  vcl::TComponent* owner =
      ownerPath.empty() ? &vcl::Application() : Reference(ownerPath, separator);
  return owner ? owner->FindComponent(std::string(path.substr(last + 1))) : nullptr;
}

void Prepare() {
  static const bool prepared = [] {
    toolkit::Initialize();
    auto* form = new vcl::TComponent(&vcl::Application());
    form->SetName("Form1");
    auto* level = new vcl::TComponent(form);
    level->SetName("Level");
    (new vcl::TComponent(level))->SetName("Deep");
    (new vcl::TComponent(form))->SetName("a");
    (new vcl::TComponent(&vcl::Application()))->SetName("a");
    return true;
  }();
  (void)prepared;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Prepare();
  if (size == 0)
    return 0;
  const char separator = static_cast<char>(data[0]);
  const std::string_view path(reinterpret_cast<const char*>(data + 1), size - 1);
  vcl::TComponent* found = toolkit::PsApplication()->FindComponent(path, separator);
  // The definition recurses once per separator: ask it only where that is cheap.
  if (size <= 4096 && found != Reference(path, separator))
    std::abort();
  return 0;
}
