#pragma once

#include <memory>
#include <vector>

#include "device/host_framework.h"

// The plug-in's one entry point, looked up by the host under this plain name.
// A standard container crosses the boundary, so host and plug-in must share
// one standard library.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" __attribute__((visibility("default"))) std::vector<std::shared_ptr<Provider>>
get_providers();
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

using GetProvidersFunction = std::vector<std::shared_ptr<Provider>> (*)();
