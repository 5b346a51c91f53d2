// The Wayland compositor, as far as the virtual pointer needs it: the logical
// layout of its monitors (wl_output, and xdg-output for the logical position
// and size, which already take the monitor's scale and rotation into
// account). The tool's coordinates are pixels of that layout; the pointer
// device's range stands for its bounding box.
#include <poll.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "linux_backend.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace {

using linuxbackend::DesktopBox;

struct Output {
  bool used;
  uint32_t name;  // the registry's name of the global
  wl_output* output;
  zxdg_output_v1* xdgOutput;
  // From wl_output: position, current mode in device pixels, scale.
  int x, y, modeWidth, modeHeight, scale;
  // From xdg-output: the logical rectangle, once announced.
  bool haveLogical;
  DesktopBox logical;
};

constexpr int kMaxOutputs = 16;
Output outputs[kMaxOutputs];
wl_display* display = nullptr;
wl_registry* registry = nullptr;
zxdg_output_manager_v1* outputManager = nullptr;
bool changed = false;

// ------------------------------------------------ xdg-output

void XdgPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
  Output* o = static_cast<Output*>(data);
  o->logical.x = x;
  o->logical.y = y;
  o->haveLogical = true;
  changed = true;
}

void XdgSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
  Output* o = static_cast<Output*>(data);
  o->logical.width = width;
  o->logical.height = height;
  o->haveLogical = true;
  changed = true;
}

void XdgDone(void*, zxdg_output_v1*) {}
void XdgName(void*, zxdg_output_v1*, const char*) {}
void XdgDescription(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener xdgListener = {XdgPosition, XdgSize, XdgDone, XdgName,
                                             XdgDescription};

void WatchLogical(Output* o) {
  if (outputManager == nullptr || o->xdgOutput != nullptr) return;
  o->xdgOutput = zxdg_output_manager_v1_get_xdg_output(outputManager, o->output);
  zxdg_output_v1_add_listener(o->xdgOutput, &xdgListener, o);
}

// ------------------------------------------------ wl_output

void OutputGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                    const char*, const char*, int32_t) {
  Output* o = static_cast<Output*>(data);
  o->x = x;
  o->y = y;
  changed = true;
}

void OutputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height,
                int32_t) {
  if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
  Output* o = static_cast<Output*>(data);
  o->modeWidth = width;
  o->modeHeight = height;
  changed = true;
}

void OutputDone(void*, wl_output*) {}

void OutputScale(void* data, wl_output*, int32_t factor) {
  static_cast<Output*>(data)->scale = factor > 0 ? factor : 1;
  changed = true;
}

// Bound at version 2: the name and description of version 4 never come.
const wl_output_listener outputListener = {OutputGeometry, OutputMode, OutputDone,
                                           OutputScale, nullptr, nullptr};

// ------------------------------------------------ registry

void Global(void*, wl_registry* r, uint32_t name, const char* interface, uint32_t version) {
  if (std::strcmp(interface, wl_output_interface.name) == 0) {
    for (Output& o : outputs) {
      if (o.used) continue;
      std::memset(&o, 0, sizeof o);
      o.used = true;
      o.name = name;
      o.scale = 1;
      o.output = static_cast<wl_output*>(
          wl_registry_bind(r, name, &wl_output_interface, version < 2 ? version : 2));
      wl_output_add_listener(o.output, &outputListener, &o);
      WatchLogical(&o);
      changed = true;
      return;
    }
  } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 &&
             outputManager == nullptr) {
    outputManager = static_cast<zxdg_output_manager_v1*>(
        wl_registry_bind(r, name, &zxdg_output_manager_v1_interface, version < 2 ? version : 2));
    for (Output& o : outputs) {
      if (o.used) WatchLogical(&o);
    }
  }
}

void Forget(Output* o) {
  if (o->xdgOutput != nullptr) zxdg_output_v1_destroy(o->xdgOutput);
  if (o->output != nullptr) wl_output_destroy(o->output);
  std::memset(o, 0, sizeof *o);
}

void GlobalRemove(void*, wl_registry*, uint32_t name) {
  for (Output& o : outputs) {
    if (o.used && o.name == name) {
      Forget(&o);
      changed = true;
    }
  }
}

const wl_registry_listener registryListener = {Global, GlobalRemove};

const char* DisplayName() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  return name != nullptr ? name : "";
}

void QuietLog(const char*, va_list) {}

}  // namespace

namespace linuxbackend {

DesktopBox BoundingBox(const DesktopBox* boxes, int count) {
  DesktopBox box = {0, 0, 0, 0};
  int right = 0, bottom = 0;
  for (int i = 0; i < count; ++i) {
    const DesktopBox& b = boxes[i];
    if (b.width <= 0 || b.height <= 0) continue;
    if (box.width == 0) {
      box = b;
      right = b.x + b.width;
      bottom = b.y + b.height;
      continue;
    }
    if (b.x < box.x) box.x = b.x;
    if (b.y < box.y) box.y = b.y;
    if (b.x + b.width > right) right = b.x + b.width;
    if (b.y + b.height > bottom) bottom = b.y + b.height;
  }
  if (box.width != 0) {
    box.width = right - box.x;
    box.height = bottom - box.y;
  }
  return box;
}

bool ConnectCompositor() {
  if (display != nullptr) return true;
  // libwayland's own complaints would make a second line.
  wl_log_set_handler_client(QuietLog);
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (DisplayName()[0] != '/' && (runtimeDir == nullptr || runtimeDir[0] == '\0')) {
    std::fprintf(stderr,
                 "trevanquill: cannot reach the Wayland compositor \"%s\": XDG_RUNTIME_DIR "
                 "is not set\n",
                 DisplayName());
    return false;
  }
  display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "trevanquill: cannot reach the Wayland compositor \"%s\" (%s)\n",
                 DisplayName(), std::strerror(errno));
    return false;
  }
  std::memset(outputs, 0, sizeof outputs);
  registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registryListener, nullptr);
  // The first round trip brings the globals, the second what each output
  // says of itself.
  if (wl_display_roundtrip(display) < 0 || wl_display_roundtrip(display) < 0) {
    std::fprintf(stderr, "trevanquill: the Wayland compositor \"%s\" closed the connection\n",
                 DisplayName());
    DisconnectCompositor();
    return false;
  }
  if (CompositorDesktop().width <= 0) {
    std::fprintf(stderr, "trevanquill: the Wayland compositor \"%s\" shows no monitor\n",
                 DisplayName());
    DisconnectCompositor();
    return false;
  }
  changed = false;
  return true;
}

DesktopBox CompositorDesktop() {
  DesktopBox boxes[kMaxOutputs];
  int count = 0;
  for (const Output& o : outputs) {
    if (!o.used) continue;
    if (o.haveLogical) {
      boxes[count++] = o.logical;
    } else {
      // No xdg-output: the mode in device pixels over the scale.
      boxes[count++] = {o.x, o.y, o.modeWidth / o.scale, o.modeHeight / o.scale};
    }
  }
  return BoundingBox(boxes, count);
}

bool UpdateCompositor(bool* gone) {
  if (display == nullptr) return false;
  // The tool sends the compositor nothing during the run: only its news or
  // its end can be there. All of it is read: the wait watcher tells of new
  // bytes once per arrival, not of bytes left unread.
  bool layoutChanged = false;
  for (;;) {
    pollfd p = {wl_display_get_fd(display), POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) break;
    changed = false;
    while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
    wl_display_flush(display);
    wl_display_read_events(display);
    wl_display_dispatch_pending(display);
    layoutChanged = layoutChanged || changed;
    if (wl_display_get_error(display) != 0 || (p.revents & (POLLHUP | POLLERR))) {
      *gone = true;
      break;
    }
  }
  return layoutChanged;
}

int CompositorWaitFd() { return display != nullptr ? wl_display_get_fd(display) : -1; }

void DisconnectCompositor() {
  if (display == nullptr) return;
  for (Output& o : outputs) {
    if (o.used) Forget(&o);
  }
  if (outputManager != nullptr) zxdg_output_manager_v1_destroy(outputManager);
  outputManager = nullptr;
  if (registry != nullptr) wl_registry_destroy(registry);
  registry = nullptr;
  wl_display_disconnect(display);
  display = nullptr;
}

}  // namespace linuxbackend
