// deskpos: GNOME Shell's own view of the pointer, for the desktop VM
// (tests/desktop-vm). Every
// 20 ms it asks the shell where the pointer is (global.get_pointer: position
// and button mask) and logs each change as
//   JS LOG: deskpos T pointer X Y BUTTONS
// (T: CLOCK_MONOTONIC seconds, which in the VM equals /proc/uptime; BUTTONS:
// Clutter's button masks, 256 left, 512 middle, 1024 right), and logs the
// overview's state. It hides the overview the shell shows at start-up unless
// the kernel command line has desk.overview=keep.
const { GLib } = imports.gi;
const Main = imports.ui.main;

class Ext {
  enable() {
    const say = m => log(`deskpos ${(GLib.get_monotonic_time() / 1e6).toFixed(3)} ${m}`);
    let cmd = '';
    try {
      cmd = new TextDecoder().decode(GLib.file_get_contents('/proc/cmdline')[1]);
    } catch (e) {}
    const keep = cmd.includes('desk.overview=keep');
    say(`enabled overview.visible=${Main.overview.visible} startingUp=${Main.layoutManager._startingUp} keep=${keep}`);
    this._ids = ['showing', 'shown', 'hiding', 'hidden'].map(s =>
      [Main.overview, Main.overview.connect(s, () => say(`overview ${s}`))]);
    const hide = why => {
      say(`${why}: hiding the overview (visible=${Main.overview.visible})`);
      // An overview that is not shown sends no 'hidden': say it here.
      if (Main.overview.visible)
        Main.overview.hide();
      else
        say('overview hidden');
    };
    if (!keep) {
      if (Main.layoutManager._startingUp)
        this._ids.push([Main.layoutManager,
          Main.layoutManager.connect('startup-complete', () => hide('startup-complete'))]);
      else
        hide('enable');
    }
    let last = '';
    this._timer = GLib.timeout_add(GLib.PRIORITY_HIGH, 20, () => {
      const [x, y, mods] = global.get_pointer();
      const s = `${x} ${y} ${mods & (256 | 512 | 1024)}`;
      if (s !== last) {
        last = s;
        say(`pointer ${s}`);
      }
      return GLib.SOURCE_CONTINUE;
    });
  }

  disable() {
    GLib.source_remove(this._timer);
    for (const [o, id] of this._ids)
      o.disconnect(id);
  }
}

function init() {
  return new Ext();
}
