// Per-key colours of a keyboard: the keys are drawn from a layout in key units, each key under the
// name the keyboard description gives it, and all colours go to the keyboard in one
// "WriteRGBDevice" (keys not named there go dark). The keyboard cannot report its colours, so
// the page keeps the colours it sent in the keyboard's page file and shows those.
var KeyboardPanel = (function () {
    "use strict";

    var UNIT = 31; // pixels per key unit

    // Rows of [name, width in units, gap before it, height in rows].
    var LAYOUT = [
        [["Esc"], ["F1", 1, 1], ["F2"], ["F3"], ["F4"], ["F5", 1, 0.5], ["F6"], ["F7"], ["F8"],
         ["F9", 1, 0.5], ["F10"], ["F11"], ["F12"], ["Print Screen", 1, 0.25], ["Scroll Lock"], ["Pause"]],
        [["`"], ["1"], ["2"], ["3"], ["4"], ["5"], ["6"], ["7"], ["8"], ["9"], ["0"], ["-"], ["="],
         ["Backspace", 2], ["Insert", 1, 0.25], ["Home"], ["Page Up"],
         ["Num Lock", 1, 0.25], ["Num /"], ["Num *"], ["Num -"]],
        [["Tab", 1.5], ["Q"], ["W"], ["E"], ["R"], ["T"], ["Y"], ["U"], ["I"], ["O"], ["P"], ["["], ["]"],
         ["\\", 1.5], ["Delete", 1, 0.25], ["End"], ["Page Down"],
         ["Num 7", 1, 0.25], ["Num 8"], ["Num 9"], ["Num +", 1, 0, 2]],
        [["CapsLock", 1.75], ["A"], ["S"], ["D"], ["F"], ["G"], ["H"], ["J"], ["K"], ["L"], [";"], ["'"],
         ["Enter", 2.25], ["Num 4", 1, 3.5], ["Num 5"], ["Num 6"]],
        [["Left Shift", 2.25], ["Z"], ["X"], ["C"], ["V"], ["B"], ["N"], ["M"], [","], ["."], ["/"],
         ["Right Shift", 2.75], ["Up", 1, 1.25], ["Num 1", 1, 1.25], ["Num 2"], ["Num 3"], ["Num Enter", 1, 0, 2]],
        [["Left Ctrl", 1.25], ["Left Windows", 1.25], ["Left Alt", 1.25], ["Space", 6.25], ["Right Alt", 1.25],
         ["Right Windows", 1.25], ["Application", 1.25], ["Right Ctrl", 1.25], ["Left", 1, 0.25], ["Down"], ["Right"],
         ["Num 0", 2, 0.25], ["Num ."]]
    ];
    // Short labels; a space lets a label take two lines on a narrow key.
    var LABELS = {
        "Backspace": "\u232B", "Print Screen": "Prt Sc", "Scroll Lock": "Scr Lk", "Page Up": "Pg Up",
        "Page Down": "Pg Dn", "Insert": "Ins", "Delete": "Del", "CapsLock": "Caps", "Num Lock": "Num",
        "Left Shift": "Shift", "Right Shift": "Shift", "Left Ctrl": "Ctrl", "Right Ctrl": "Ctrl",
        "Left Alt": "Alt", "Right Alt": "Alt", "Left Windows": "Win", "Right Windows": "Win",
        "Application": "Menu", "Num Enter": "Ent", "Up": "\u2191", "Down": "\u2193", "Left": "\u2190",
        "Right": "\u2192"
    };

    var version = "";
    var file = DeviceFile.empty();
    var keys = {};      // key name -> element
    var panel = null;
    var $ = function (id) { return document.getElementById(id); };

    function label(name) {
        if (LABELS[name])
            return LABELS[name];
        return name.indexOf("Num ") === 0 ? name.substr(4) : name;
    }

    // Black or white text, whichever reads better on the colour.
    function textOn(colour) {
        var r = parseInt(colour.substr(1, 2), 16), g = parseInt(colour.substr(3, 2), 16), b = parseInt(colour.substr(5, 2), 16);
        return 0.299 * r + 0.587 * g + 0.114 * b > 140 ? "#111" : "#fff";
    }

    function paint(name, colours, saved) {
        var key = keys[name];
        var colour = colours[name];
        key.classList.toggle("lit", !!colour);
        key.classList.toggle("changed", !!saved && saved[name] !== colour);
        key.style.background = colour || "";
        key.style.color = colour ? textOn(colour) : "";
    }

    function render(draft) {
        var saved = panel.saved();
        Object.keys(keys).forEach(function (name) { paint(name, draft.keys, saved && saved.keys); });
    }

    function build() {
        var board = $("keyboard");
        var width = 0;
        LAYOUT.forEach(function (row, r) {
            var x = 0;
            row.forEach(function (entry) {
                var name = entry[0], w = entry[1] || 1, gap = entry[2] || 0, h = entry[3] || 1;
                x += gap;
                var key = document.createElement("div");
                key.className = "key";
                key.textContent = label(name);
                // A word of four letters or more takes a smaller type on a key one unit wide.
                if (w === 1 && /\S{4,}/.test(key.textContent))
                    key.classList.add("long");
                key.title = name;
                key.dataset.name = name;
                key.style.left = (x * UNIT) + "px";
                key.style.top = (r * UNIT) + "px";
                key.style.width = (w * UNIT - 3) + "px";
                key.style.height = (h * UNIT - 3) + "px";
                key.addEventListener("click", function () {
                    var colours = panel.draft().keys;
                    var chosen = $("key-colour").value.toLowerCase();
                    if (colours[name] === chosen)
                        delete colours[name];
                    else
                        colours[name] = chosen;
                    panel.changed();
                });
                board.appendChild(key);
                keys[name] = key;
                x += w;
            });
            width = Math.max(width, x);
        });
        board.style.width = (width * UNIT) + "px";
        board.style.height = (LAYOUT.length * UNIT) + "px";
    }

    function read() {
        var asked = version;
        return DeviceFile.load(asked).then(function (loaded) {
            // A read overtaken by the opening of another keyboard leaves that keyboard's file alone.
            if (asked === version)
                file = loaded;
            var held = {};
            Object.keys(loaded.keys).forEach(function (name) {
                if (keys[name])
                    held[name] = loaded.keys[name];
            });
            return { keys: held };
        });
    }

    // The keys a refused write left as they were, by name: "the colours of Esc and F1".
    function unchanged(saved, draft) {
        var before = (saved && saved.keys) || {};
        var names = Object.keys(keys).filter(function (name) { return before[name] !== draft.keys[name]; });
        if (!names.length)
            return "";
        var shown = names.length > 10 ? names.slice(0, 9).concat([(names.length - 9) + " more keys"]) : names;
        return (names.length === 1 ? "the colour of " : "the colours of ") + Panel.list(shown);
    }

    // Items "name#RRGGBB" as a JSON array text.
    async function write(saved, draft) {
        var items = Object.keys(draft.keys).map(function (name) {
            return name + "#" + draft.keys[name].substr(1).toUpperCase();
        });
        var result = await Bridge.call("WriteRGBDevice", { Version: version, DriverVersion: "K1.0", Data: JSON.stringify(items) });
        var what = items.length === 0 ? "every key dark" : items.length === 1 ? "the colour of 1 key"
                                                                              : "the colours of " + items.length + " keys";
        if (!result.ok)
            return { done: [], failed: [unchanged(saved, draft) || what], note: "" };
        file.keys = Panel.clone(draft.keys);
        var kept = await DeviceFile.save(version, file);
        return { done: [what], failed: [],
                 note: kept ? "" : "The colours could not be kept in the program's files; after a restart they may show wrongly." };
    }

    function init() {
        build();
        panel = Panel.create({
            id: "keyboard-panel",
            name: function () { return "the keyboard"; },
            read: read,
            render: render,
            validate: function () { return true; },
            write: write,
            onRefresh: render
        });
        $("keys-all").addEventListener("click", function () {
            var chosen = $("key-colour").value.toLowerCase();
            var colours = panel.draft().keys;
            Object.keys(keys).forEach(function (name) { colours[name] = chosen; });
            panel.changed();
        });
        $("keys-clear").addEventListener("click", function () {
            var colours = panel.draft().keys;
            Object.keys(colours).forEach(function (name) { delete colours[name]; });
            panel.changed();
        });
    }

    function open(deviceVersion) {
        version = deviceVersion;
        file = DeviceFile.empty();
        $("keyboard-title").textContent = "Keyboard " + version;
        return panel.open();
    }

    return {
        init: init,
        open: open,
        hasUnsavedChanges: function () { return panel.hasUnsavedChanges(); },
        discard: function () { panel.discard(); },
        name: function () { return "Keyboard " + version; }
    };
})();
