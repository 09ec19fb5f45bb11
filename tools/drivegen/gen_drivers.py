#!/usr/bin/env python3
"""Writes the built-in driver descriptions (src/resources/drive/*.xml).

Usage: tools/drivegen/gen_drivers.py [output-dir]   (default: src/resources/drive)

The XML files are committed; run this after changing a table below.
"""
import os
import sys
from xml.sax.saxutils import quoteattr

ATTR_ORDER = ["Name", "name", "Task", "Index", "Length", "Code", "vkCode", "ScanCode", "flag", "Value"]

# name, HID usage (Keyboard/Keypad page), virtual-key code, scan code, extended flag, mnemonic.
# "-", "Enter", "Page Up" and "Page Down" carry keypad usages on purpose; the last four rows carry
# modifier bits instead of usages.
KEYS = []
_LETTER_SCANS = [0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
                 0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C]
for i in range(26):
    c = chr(ord("A") + i)
    KEYS.append((c, "%02X" % (0x04 + i), 65 + i, _LETTER_SCANS[i], 0, "VK_" + c))
for d in range(10):
    usage = 0x27 if d == 0 else 0x1D + d
    scan = 0x0B if d == 0 else 0x01 + d
    KEYS.append((str(d), "%02X" % usage, 48 + d, scan, 0, "VK_%d" % d))
KEYS += [
    ("Num Lock", "53", 144, 0x45, 1, "VK_NUMLOCK"),
    ("Num /", "54", 111, 0x35, 1, "VK_DIVIDE"),
    ("Num *", "55", 106, 0x37, 0, "VK_MULTIPLY"),
    ("Num -", "56", 109, 0x4A, 0, "VK_SUBTRACT"),
    ("Num +", "57", 107, 0x4E, 0, "VK_ADD"),
    ("Num Enter", "58", 13, 0x1C, 1, "VK_RETURN"),
    ("Num .", "63", 110, 0x53, 0, "VK_DECIMAL"),
]
_NUMPAD_SCANS = [0x52, 0x4F, 0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47, 0x48, 0x49]
for d in range(10):
    usage = 0x62 if d == 0 else 0x58 + d
    KEYS.append(("Num %d" % d, "%02X" % usage, 96 + d, _NUMPAD_SCANS[d], 0, "VK_NUMPAD%d" % d))
KEYS.append(("Esc", "29", 27, 0x01, 0, "VK_ESCAPE"))
for f in range(1, 13):
    scan = 0x3A + f if f <= 10 else 0x4C + f
    KEYS.append(("F%d" % f, "%02X" % (0x39 + f), 111 + f, scan, 0, "VK_F%d" % f))
KEYS += [
    ("`", "35", 192, 0x29, 0, "VK_OEM_3"),
    ("-", "56", 189, 0x0C, 0, "VK_OEM_MINUS"),
    ("=", "2E", 187, 0x0D, 0, "VK_OEM_PLUS"),
    ("Backspace", "2A", 8, 0x0E, 0, "VK_BACK"),
    ("[", "2F", 219, 0x1A, 0, "VK_OEM_4"),
    ("]", "30", 221, 0x1B, 0, "VK_OEM_6"),
    ("\\", "31", 220, 0x2B, 0, "VK_OEM_5"),
    (";", "33", 186, 0x27, 0, "VK_OEM_1"),
    ("'", "34", 222, 0x28, 0, "VK_OEM_7"),
    ("Enter", "58", 13, 0x1C, 0, "VK_RETURN"),
    (",", "36", 188, 0x33, 0, "VK_OEM_COMMA"),
    (".", "37", 190, 0x34, 0, "VK_OEM_PERIOD"),
    ("/", "38", 191, 0x35, 0, "VK_OEM_2"),
    ("Tab", "2B", 9, 0x0F, 0, "VK_TAB"),
    ("CapsLock", "39", 20, 0x3A, 0, "VK_CAPITAL"),
    ("Left Shift", "E1", 160, 0x2A, 0, "VK_LSHIFT"),
    ("Right Shift", "E5", 161, 0x36, 0, "VK_RSHIFT"),
    ("Left Ctrl", "E0", 162, 0x1D, 0, "VK_LCONTROL"),
    ("Right Ctrl", "E4", 163, 0x1D, 1, "VK_RCONTROL"),
    ("Left Alt", "E2", 164, 0x38, 0, "VK_LMENU"),
    ("Right Alt", "E6", 165, 0x38, 1, "VK_RMENU"),
    ("Left Windows", "E3", 91, 0x5B, 1, "VK_LWIN"),
    ("Right Windows", "E7", 92, 0x5C, 1, "VK_RWIN"),
    ("Application", "65", 93, 0x5D, 1, "VK_APPS"),
    ("Space", "2C", 32, 0x39, 0, "VK_SPACE"),
    ("Print Screen", "46", 44, 0x37, 1, "VK_SNAPSHOT"),
    ("Scroll Lock", "47", 145, 0x46, 0, "VK_SCROLL"),
    ("Pause", "48", 19, 0x45, 0, "VK_PAUSE"),
    ("Insert", "49", 45, 0x52, 1, "VK_INSERT"),
    ("Home", "4A", 36, 0x47, 1, "VK_HOME"),
    ("Page Up", "61", 33, 0x49, 1, "VK_PRIOR"),
    ("Delete", "4C", 46, 0x53, 1, "VK_DELETE"),
    ("End", "4D", 35, 0x4F, 1, "VK_END"),
    ("Page Down", "5B", 34, 0x51, 1, "VK_NEXT"),
    ("Up", "52", 38, 0x48, 1, "VK_UP"),
    ("Down", "51", 40, 0x50, 1, "VK_DOWN"),
    ("Left", "50", 37, 0x4B, 1, "VK_LEFT"),
    ("Right", "4F", 39, 0x4D, 1, "VK_RIGHT"),
    ("Ctrl", "1", 17, 0x1D, 0, "VK_CONTROL"),
    ("Shift", "2", 16, 0x2A, 0, "VK_SHIFT"),
    ("Alt", "4", 18, 0x38, 0, "VK_MENU"),
    ("Win", "8", 91, 0x5B, 1, "VK_LWIN"),
]
assert len(KEYS) == 108


def key(**attrs):
    return attrs


def prop(task, index, length):
    return key(Task=task, Index=str(index), Length=str(length))


def mouse_properties():
    rows = [prop("deviceId", 1, 73), prop("pid", 2, 4), prop("mode", 3, 1), prop("modeIndex", 4, 1),
            prop("checkCode", 5, 2), prop("gFlag", 6, 1), prop("gDpidata", 7, 83), prop("gDpicount", 8, 1),
            prop("gDpicurrent", 9, 1), prop("gDpisensor", 10, 1)]
    rows += [prop("gDpi%d" % i, 11 + i, 8) for i in range(10)]
    rows += [prop("greportrate", 21, 1), prop("gwheelSpeed", 22, 1), prop("gLights", 23, 10),
             prop("gJitters", 24, 10), prop("gVoices", 25, 10), prop("empty", 26, 10),
             prop("pReportrate", 40, 1), prop("pWheelSpeed", 41, 1), prop("pLights", 42, 10),
             prop("pJitters", 43, 10), prop("pVoices", 44, 10), prop("empty", 45, 10),
             prop("pDpiData", 46, 83), prop("pDpiCount", 47, 1), prop("pDpiCurrent", 48, 1),
             prop("pDpiSensor", 49, 1)]
    rows += [prop("pDpi%d" % i, 50 + i, 8) for i in range(10)]
    rows.append(prop("pButtonData", 60, 120))
    rows += [prop("pButton%d" % i, 61 + i, 4) for i in range(30)]
    return rows


def keyboard_properties():
    rows = [prop("deviceId", 1, 73), prop("pid", 2, 4), prop("mode", 3, 1), prop("modeIndex", 4, 1),
            prop("checkCode", 5, 2), prop("gFlag", 6, 1), prop("Lights", 21, 11), prop("KeyLights", 43, 18),
            key(Task="pButtonData", Length="120")]
    # The key buttons carry the physical keys' labels (the light key in place of the application
    # key), then the G keys.
    labels = [k[0] for k in KEYS[:104] if k[0] != "Application"] + ["Led"] + ["G%d" % i for i in range(1, 21)]
    assert len(labels) == 124
    for i in range(124):
        index = 44 + i if i < 104 else 174 + (i - 104)
        rows.append(key(Name=labels[i], Task="Button%d" % i, Index=str(index), Length="4"))
    return rows


def areas(addresses):
    return [key(Name="模式%d" % i, Task="mode%d" % i, Index=str(i), Length="300", Code=a)
            for i, a in enumerate(addresses)]


def macro_rows(first, slots, lower=False):
    data = "macroData" if lower else "MacroData"
    slot = "macro" if lower else "Macro"
    length = str(slots * 200) if lower else str(slots)
    rows = [key(Name="宏数据", Task=data, Length=length, Code="0x%X" % first)]
    rows += [key(Name="宏%d" % i, Task="%s%d" % (slot, i), Index=str(i), Length="200",
                 Code="0x%X" % (first + 200 * i)) for i in range(slots)]
    return rows


FUNCTIONS = [
    ("左键单击", "LeftClick", 0x01), ("右键单击", "RightClick", 0x02), ("中键单击", "MiddleClick", 0x04),
    ("后退", "Back", 0x08), ("前进", "Forward", 0x10), ("滚轮向上", "ScrollUp", 0x12),
    ("滚轮向下", "ScrollDown", 0x11), ("滚轮向左", "ScrollLeft", 0x13), ("滚轮向右", "ScrollRight", 0x14),
    ("DPI循环", "DpiCycling", 0x20), ("DPI加", "DpiUp", 0x21), ("DPI减", "DpiDown", 0x22),
    ("DPI定位", "DpiPosition", 0x23), ("锁定X轴", "LockX", 0x24), ("锁定Y轴", "LockY", 0x25),
    ("模式切换", "ModeShift", 0x26), ("模式减", "ModeDown", 0x27), ("模式加", "ModeUp", 0x28),
    ("回报率加", "ReportrateUp", 0x29), ("回报率减", "ReportrateDown", 0x2A), ("抬起高度加", "LiftUp", 0x30),
    ("抬起高度减", "LiftDown", 0x31),
]


def functions(swap_scroll=False):
    rows = []
    for name, task, code in FUNCTIONS:
        if swap_scroll and task == "ScrollUp":
            code = 0x11
        elif swap_scroll and task == "ScrollDown":
            code = 0x12
        rows.append(key(Name=name, Task=task, Length="4", Code="0x01,0x%02X,0x00,0x00" % code))
    rows.append(key(Name="灯光切换", Task="SwitchLight", Length="4", Code="0x07,0x01,0x00,0x00"))
    rows.append(key(Name="恢复默认", Task="ResetToDefaults", Length="4", Code="0x07,0x02,0x00,0x00"))
    return rows


MULTIMEDIA = [("媒体播放器", "MediaPlayer", 0x183), ("播放/暂停", "PlayPause", 0xCD), ("停止", "Stop", 0xB7),
              ("上一曲", "PreTrack", 0xB6), ("下一曲", "NextTrack", 0xB5), ("音量加", "VolumeUp", 0xE9),
              ("音量减", "VolumeDown", 0xEA), ("静音", "Mute", 0xE2)]


def multimedia():
    return [key(Name=n, Task=t, Length="4", Code="0x03,0x00,0x%02X,0x%02X" % (u & 0xFF, u >> 8))
            for n, t, u in MULTIMEDIA]


def templates(keyboard, m2=False):
    rows = [key(Name="快捷键", Task="HotKey", Code="0x02,{0},{1},{2}"),
            key(Name="宏", Task="Macro", Code="0x04,{0},{1},{2}"),
            key(Name="连发", Task="GKey", Code="0x05,{0},{1},{2}")]
    if keyboard:
        rows.append(key(Name="连发键", Task="repeatKey", Code="0x05,{0},{1},{2}"))
    rows += [key(Name="鼠标按下宏", Task="mouseDownMacro", Code="0x81,{0},0x00"),
             key(Name="鼠标弹起宏", Task="mouseUpMacro", Code="0x01,{0},0x00"),
             key(Name="按下", Task="down", Code="0x84,{0},0x00"),
             key(Name="弹起", Task="up", Code="0x04,{0},0x00"),
             key(Name="鼠标按下", Task="mousedown", Code="0x81,{0},0x00"),
             key(Name="鼠标弹起", Task="mouseup", Code="0x01,{0},0x00"),
             key(Name="键盘按下", Task="Keydown", Code="0x84,{0},0x00"),
             key(Name="键盘弹起", Task="Keyup", Code="0x04,{0},0x00"),
             key(Name="延迟", Task="delayTime", Code="0x06,{0},{1}"),
             key(Name="灯光", Task="light", Code="{0},{1},{2}")]
    if keyboard:
        rows.append(key(Name="键盘按键", Task="KeyboardKey", Code="Code"))
    else:
        rows += [key(Task="mouseLeft", Value="0x81"), key(Task="mouseRight", Value="0x82"),
                 key(Task="mouseMiddle", Value="0x84")]
    return rows


REPEAT = [("左键连发", "GLeft", "0x81"), ("右键连发", "GRight", "0x82"), ("中键连发", "GMiddle", "0x84")]


def repeat_rows():
    return [key(Name=n, Task=t, Code=c) for n, t, c in REPEAT]


def macro_buttons():
    return [key(name="左键", Task="左键", Code="0x81"), key(name="右键", Task="右键", Code="0x82")]


def key_rows():
    return [key(Name=n, Task=n, Code=c, vkCode=str(vk), ScanCode=str(sc), flag=str(fl), Value=v)
            for n, c, vk, sc, fl, v in KEYS]


def attrs_text(attrs):
    return " ".join("%s=%s" % (a, quoteattr(attrs[a])) for a in ATTR_ORDER if a in attrs)


def render(name, version, rows):
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           "<Driver Name=%s Version=%s>" % (quoteattr(name), quoteattr(version))]
    for row in rows:
        children = row.pop("_children", None)
        if children:
            out.append("    <Key %s>" % attrs_text(row))
            for tag, child in children:
                out.append("        <%s %s/>" % (tag, attrs_text(child)))
            out.append("    </Key>")
        else:
            out.append("    <Key %s/>" % attrs_text(row))
    out.append("</Driver>")
    return "\n".join(out) + "\n"


def mouse(m2=False):
    rows = mouse_properties()
    rows += areas(["0x106", "0x232", "0x35E", "0x48A", "0x5B6", "0x6E2"])
    rows += macro_rows(0xA00, 30, lower=m2)
    rows += functions(swap_scroll=m2)
    rows += multimedia()
    rows += templates(keyboard=False)
    if m2:
        row = key(Name="连发键", Task="repeatKey", Code="0x05,{0},{1},{2}")
        row["_children"] = [("repeatKey", r) for r in repeat_rows()]
        rows.append(row)
    else:
        rows += repeat_rows()
        rows += macro_buttons()
    rows += key_rows()
    return rows


def keyboard():
    rows = keyboard_properties()
    rows += areas(["0x94", "0x382", "0x670", "0x95E", "0xC4C", "0xF3A"])
    rows += macro_rows(0x1250, 10)
    rows += functions()
    rows += multimedia()
    rows += templates(keyboard=True)
    rows += repeat_rows()
    rows += macro_buttons()
    rows += key_rows()
    return rows


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "src", "resources", "drive")
    os.makedirs(out_dir, exist_ok=True)
    docs = {
        "M1.0.xml": render("鼠标按键驱动1.0", "M1.0", mouse()),
        "K1.0.xml": render("键盘按键驱动1.0", "K1.0", keyboard()),
        "M2.0.xml": render("鼠标按键驱动1.0", "M1.0", mouse(m2=True)),
    }
    for file_name, text in docs.items():
        with open(os.path.join(out_dir, file_name), "w", encoding="utf-8", newline="\n") as f:
            f.write(text)


if __name__ == "__main__":
    main()
