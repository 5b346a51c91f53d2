// desktop-watch: a native Wayland client that covers every monitor with a
// fullscreen window and prints what the seat's pointer and keyboard do over
// them, one line per event, flushed at once (for the desktop VM's cases, which
// compare it with where the tool put the cursor):
//
//   output N X Y W H NAME   a monitor's logical rectangle (xdg-output)
//   configure N W H         the size the compositor gave window N
//   enter N SX SY           the pointer entered window N at surface (SX, SY)
//   motion N SX SY          it moved over window N
//   leave N
//   button CODE STATE       (STATE 1 pressed, 0 released)
//   axis AXIS VALUE / value120 AXIS N / discrete AXIS N
//   key CODE STATE          a key while a window has the keyboard focus
//   ready N                 all N windows are mapped
//
// A monitor's desktop pixel under the pointer is X + SX * W / (window width):
// a compositor may give a scaled monitor's window a size other than W.
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace {

struct Monitor {
  wl_output* output;
  zxdg_output_v1* xdgOutput;
  int x, y, width, height;
  char name[64];
  wl_surface* surface;
  xdg_surface* xdgSurface;
  xdg_toplevel* toplevel;
  int windowWidth, windowHeight;
  bool mapped;
};

constexpr int kMaxMonitors = 8;
Monitor monitors[kMaxMonitors];
int monitorCount = 0;
wl_compositor* compositor = nullptr;
wl_shm* shm = nullptr;
xdg_wm_base* wmBase = nullptr;
wl_seat* seat = nullptr;
zxdg_output_manager_v1* outputManager = nullptr;
wl_pointer* pointer = nullptr;
wl_keyboard* keyboard = nullptr;
int mappedCount = 0;

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

int IndexOf(wl_surface* surface) {
  for (int i = 0; i < monitorCount; i++)
    if (monitors[i].surface == surface) return i;
  return -1;
}

// A buffer of one colour, so that the window is shown.
wl_buffer* MakeBuffer(int width, int height) {
  const int stride = width * 4;
  const int size = stride * height;
  const int fd = memfd_create("desktop-watch", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, size) < 0) {
    std::perror("desktop-watch: memfd");
    return nullptr;
  }
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd, size);
  wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  return buffer;
}

void XdgOutputPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
  Monitor* m = static_cast<Monitor*>(data);
  m->x = x;
  m->y = y;
}
void XdgOutputSize(void* data, zxdg_output_v1*, int32_t w, int32_t h) {
  Monitor* m = static_cast<Monitor*>(data);
  m->width = w;
  m->height = h;
}
void XdgOutputDone(void* data, zxdg_output_v1*) {
  Monitor* m = static_cast<Monitor*>(data);
  Say("output %d %d %d %d %d %s\n", int(m - monitors), m->x, m->y, m->width, m->height, m->name);
}
void XdgOutputName(void* data, zxdg_output_v1*, const char* name) {
  Monitor* m = static_cast<Monitor*>(data);
  std::snprintf(m->name, sizeof m->name, "%s", name);
}
void XdgOutputDescription(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener kXdgOutputListener = {XdgOutputPosition, XdgOutputSize, XdgOutputDone,
                                                    XdgOutputName, XdgOutputDescription};

void WmPing(void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener kWmListener = {WmPing};

void ToplevelConfigure(void* data, xdg_toplevel*, int32_t w, int32_t h, wl_array*) {
  Monitor* m = static_cast<Monitor*>(data);
  if (w > 0 && h > 0) {
    m->windowWidth = w;
    m->windowHeight = h;
  }
}
void ToplevelClose(void*, xdg_toplevel*) {}
void ToplevelBounds(void*, xdg_toplevel*, int32_t, int32_t) {}
void ToplevelCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener kToplevelListener = {ToplevelConfigure, ToplevelClose, ToplevelBounds,
                                                 ToplevelCapabilities};

void SurfaceConfigure(void* data, xdg_surface* surface, uint32_t serial) {
  Monitor* m = static_cast<Monitor*>(data);
  xdg_surface_ack_configure(surface, serial);
  if (m->windowWidth <= 0) {
    m->windowWidth = m->width > 0 ? m->width : 640;
    m->windowHeight = m->height > 0 ? m->height : 480;
  }
  Say("configure %d %d %d\n", int(m - monitors), m->windowWidth, m->windowHeight);
  wl_buffer* buffer = MakeBuffer(m->windowWidth, m->windowHeight);
  if (buffer == nullptr) return;
  wl_surface_attach(m->surface, buffer, 0, 0);
  wl_surface_damage(m->surface, 0, 0, m->windowWidth, m->windowHeight);
  wl_surface_commit(m->surface);
  if (!m->mapped) {
    m->mapped = true;
    if (++mappedCount == monitorCount) Say("ready %d\n", monitorCount);
  }
}
const xdg_surface_listener kSurfaceListener = {SurfaceConfigure};

// The window the pointer is over, which the motions that follow refer to.
int pointerOver = -1;
void PointerEnter(void*, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
  pointerOver = IndexOf(surface);
  Say("enter %d %.2f %.2f\n", pointerOver, wl_fixed_to_double(x), wl_fixed_to_double(y));
}
void PointerLeave(void*, wl_pointer*, uint32_t, wl_surface* surface) {
  Say("leave %d\n", IndexOf(surface));
  pointerOver = -1;
}
void PointerMotion(void*, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
  Say("motion %d %.2f %.2f\n", pointerOver, wl_fixed_to_double(x), wl_fixed_to_double(y));
}
void PointerButton(void*, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state) {
  Say("button %u %u\n", button, state);
}
void PointerAxis(void*, wl_pointer*, uint32_t, uint32_t axis, wl_fixed_t value) {
  Say("axis %u %.4f\n", axis, wl_fixed_to_double(value));
}
void PointerFrame(void*, wl_pointer*) {}
void PointerSource(void*, wl_pointer*, uint32_t) {}
void PointerStop(void*, wl_pointer*, uint32_t, uint32_t) {}
void PointerDiscrete(void*, wl_pointer*, uint32_t axis, int32_t n) { Say("discrete %u %d\n", axis, n); }
void PointerValue120(void*, wl_pointer*, uint32_t axis, int32_t n) { Say("value120 %u %d\n", axis, n); }
const wl_pointer_listener kPointerListener = {PointerEnter, PointerLeave,  PointerMotion,   PointerButton,
                                              PointerAxis,  PointerFrame,  PointerSource,   PointerStop,
                                              PointerDiscrete, PointerValue120};

void KeyboardKeymap(void*, wl_keyboard*, uint32_t, int32_t fd, uint32_t) { close(fd); }
void KeyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface* surface, wl_array*) {
  Say("focus %d\n", IndexOf(surface));
}
void KeyboardLeave(void*, wl_keyboard*, uint32_t, wl_surface*) { Say("focus -1\n"); }
void KeyboardKey(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) {
  Say("key %u %u\n", key, state);
}
void KeyboardModifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void KeyboardRepeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener kKeyboardListener = {KeyboardKeymap, KeyboardEnter,     KeyboardLeave,
                                                KeyboardKey,    KeyboardModifiers, KeyboardRepeat};

void SeatCapabilities(void*, wl_seat* s, uint32_t caps) {
  if ((caps & WL_SEAT_CAPABILITY_POINTER) && pointer == nullptr) {
    pointer = wl_seat_get_pointer(s);
    wl_pointer_add_listener(pointer, &kPointerListener, nullptr);
  }
  if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) && keyboard == nullptr) {
    keyboard = wl_seat_get_keyboard(s);
    wl_keyboard_add_listener(keyboard, &kKeyboardListener, nullptr);
  }
}
void SeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {SeatCapabilities, SeatName};

void RegistryGlobal(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
  auto bind = [&](const wl_interface* i, uint32_t want) {
    return wl_registry_bind(registry, name, i, version < want ? version : want);
  };
  if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
    compositor = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
  } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
    shm = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
  } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
    wmBase = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 1));
  } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0) {
    outputManager = static_cast<zxdg_output_manager_v1*>(bind(&zxdg_output_manager_v1_interface, 2));
  } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && seat == nullptr) {
    // Version 8 has the wheel's high-resolution steps (value120).
    seat = static_cast<wl_seat*>(bind(&wl_seat_interface, 8));
    Say("seat version %u\n", version);
  } else if (std::strcmp(interface, wl_output_interface.name) == 0 && monitorCount < kMaxMonitors) {
    monitors[monitorCount++].output = static_cast<wl_output*>(bind(&wl_output_interface, 2));
  }
}
void RegistryRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener = {RegistryGlobal, RegistryRemove};

}  // namespace

int main() {
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "desktop-watch: no Wayland display\n");
    return 1;
  }
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, nullptr);
  wl_display_roundtrip(display);
  if (compositor == nullptr || shm == nullptr || wmBase == nullptr || seat == nullptr ||
      outputManager == nullptr || monitorCount == 0) {
    std::fprintf(stderr, "desktop-watch: the compositor lacks a global this watcher needs\n");
    return 1;
  }
  xdg_wm_base_add_listener(wmBase, &kWmListener, nullptr);
  wl_seat_add_listener(seat, &kSeatListener, nullptr);
  for (int i = 0; i < monitorCount; i++) {
    monitors[i].xdgOutput = zxdg_output_manager_v1_get_xdg_output(outputManager, monitors[i].output);
    zxdg_output_v1_add_listener(monitors[i].xdgOutput, &kXdgOutputListener, &monitors[i]);
  }
  wl_display_roundtrip(display);
  for (int i = 0; i < monitorCount; i++) {
    Monitor* m = &monitors[i];
    m->surface = wl_compositor_create_surface(compositor);
    m->xdgSurface = xdg_wm_base_get_xdg_surface(wmBase, m->surface);
    xdg_surface_add_listener(m->xdgSurface, &kSurfaceListener, m);
    m->toplevel = xdg_surface_get_toplevel(m->xdgSurface);
    xdg_toplevel_add_listener(m->toplevel, &kToplevelListener, m);
    char title[32];
    std::snprintf(title, sizeof title, "desktop-watch %d", i);
    xdg_toplevel_set_title(m->toplevel, title);
    xdg_toplevel_set_fullscreen(m->toplevel, m->output);
    wl_surface_commit(m->surface);
  }
  while (wl_display_dispatch(display) != -1) {
  }
  std::fprintf(stderr, "desktop-watch: the compositor closed the connection\n");
  return 0;
}
