// The library's two exports. The host gets a wrapped driver that talks to its
// own port dispatcher through a proxy; neither is ever destroyed.
#include <memory>

#include "entry/Boundary.h"
#include "entry/DriverTable.h"
#include "entry/HostConvention.h"
#include "entry/HostPortDispatcher.h"

namespace quorlan::entry {
namespace {

BinaryDriver* CreateForHost(std::uint32_t flags, std::uint32_t appWindow, const HostObject* port) {
  // A nil dispatcher goes on as nil: the core refuses it.
  auto proxy = port != nullptr ? std::make_unique<HostPortDispatcher>(port) : nullptr;
  TVM30* driver = quorlan::GetDI30(flags, appWindow, proxy.get());
  proxy.release();  // the driver keeps it for the library's lifetime
  return WrapForHost(driver);
}

}  // namespace
}  // namespace quorlan::entry

using quorlan::entry::BinaryDriver;
using quorlan::entry::HostObject;

extern "C" __declspec(dllexport) BinaryDriver* QUORLAN_HOST_CALLABLE
    GetDI30(std::uint32_t flags, std::uint32_t appWindow, const HostObject* port) {
  return quorlan::entry::RunForHost(
      [&] { return quorlan::entry::CreateForHost(flags, appWindow, port); });
}

// Five ignored values follow on the stack (pops 20).
extern "C" __declspec(dllexport) BinaryDriver* QUORLAN_HOST_CALLABLE
    GetDriver25(std::uint32_t flags, std::uint32_t appWindow, const HostObject* port, std::uint32_t,
                std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
  return quorlan::entry::RunForHost(
      [&] { return quorlan::entry::CreateForHost(flags, appWindow, port); });
}
