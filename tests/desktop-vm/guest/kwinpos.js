// kwinpos: KWin's own view of the pointer, for the desktop VM
// (tests/desktop-vm): each change of KWin's cursor position is printed
// (kwin_scripting debug category) as
//   kwinpos X Y
// Loaded by run.sh through KWin's Scripting D-Bus interface.
print("kwinpos start " + workspace.cursorPos.x + " " + workspace.cursorPos.y);
workspace.cursorPosChanged.connect(function () {
    var p = workspace.cursorPos;
    print("kwinpos " + p.x + " " + p.y);
});
