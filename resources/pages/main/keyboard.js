// A keyboard's per-key colours and what its keys do. The keys are drawn from a layout in key units,
// each key under the name the keyboard description gives it. All colours go to the keyboard in one
// "WriteRGBDevice" (keys not named there go dark); a key's function goes to the key's own property
// with "WriteDevice". The keyboard reports neither, so the page keeps what it sent in the
// keyboard's page file and shows that.
var KeyboardPanel = (function () {
    "use strict";

    var UNIT = 31; // pixels per key unit
    var DRIVER = "K1.0";

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
    // Keys that have a function but no light, drawn below the others when functions are edited.
    var EXTRA_ROW = [["Led"], ["G1", 1, 0.5], ["G2"], ["G3"], ["G4"], ["G5"], ["G6"], ["G7"], ["G8"], ["G9"], ["G10"],
                     ["G11"], ["G12"], ["G13"], ["G14"], ["G15"], ["G16"], ["G17"], ["G18"], ["G19"], ["G20"]];
    // The keys' properties in the keyboard description: runs of consecutive properties, each a
    // first property and the keys in order.
    var KEY_PROPERTIES = [
        [44, ["A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O", "P", "Q", "R", "S",
              "T", "U", "V", "W", "X", "Y", "Z", "0", "1", "2", "3", "4", "5", "6", "7", "8", "9",
              "Num Lock", "Num /", "Num *", "Num -", "Num +", "Num Enter", "Num .", "Num 0", "Num 1", "Num 2",
              "Num 3", "Num 4", "Num 5", "Num 6", "Num 7", "Num 8", "Num 9", "Esc", "F1", "F2", "F3", "F4",
              "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12", "`", "-", "=", "Backspace", "[", "]", "\\",
              ";", "'", "Enter", ",", ".", "/", "Tab", "CapsLock", "Left Shift", "Right Shift", "Left Ctrl",
              "Right Ctrl", "Left Alt", "Right Alt", "Left Windows", "Right Windows", "Space", "Print Screen",
              "Scroll Lock", "Pause", "Insert", "Home", "Page Up", "Delete", "End", "Page Down", "Up", "Down",
              "Left", "Right", "Led"]],
        [174, ["G1", "G2", "G3", "G4", "G5", "G6", "G7", "G8", "G9", "G10", "G11", "G12", "G13", "G14", "G15",
               "G16", "G17", "G18", "G19", "G20"]]
    ];
    // The keyboard description's functions; those of a mouse's sensor (resolution, axis locks,
    // lift height) are left out.
    var FUNCTIONS = [
        ["LeftClick", "Left click"], ["RightClick", "Right click"], ["MiddleClick", "Middle click"],
        ["Back", "Back"], ["Forward", "Forward"], ["ScrollUp", "Scroll up"], ["ScrollDown", "Scroll down"],
        ["ScrollLeft", "Scroll left"], ["ScrollRight", "Scroll right"], ["ModeShift", "Next mode"],
        ["ModeUp", "Mode up"], ["ModeDown", "Mode down"], ["ReportrateUp", "Report rate up"],
        ["ReportrateDown", "Report rate down"], ["SwitchLight", "Switch light"], ["ResetToDefaults", "Reset to defaults"]
    ];
    var DEFAULT_WORDS = "What the key does normally";
    // Short labels; a space lets a label take two lines on a narrow key.
    var LABELS = {
        "Backspace": "\u232B", "Print Screen": "Prt Sc", "Scroll Lock": "Scr Lk", "Page Up": "Pg Up",
        "Page Down": "Pg Dn", "Insert": "Ins", "Delete": "Del", "CapsLock": "Caps", "Num Lock": "Num",
        "Left Shift": "Shift", "Right Shift": "Shift", "Left Ctrl": "Ctrl", "Right Ctrl": "Ctrl",
        "Left Alt": "Alt", "Right Alt": "Alt", "Left Windows": "Win", "Right Windows": "Win",
        "Application": "Menu", "Num Enter": "Ent", "Up": "\u2191", "Down": "\u2193", "Left": "\u2190",
        "Right": "\u2192", "Led": "Light"
    };

    var version = "";
    var file = DeviceFile.empty();
    var keys = {};      // key name -> element
    var property = {};  // key name -> its property, for the keys that can be given a function
    var mode = "colours";
    var selected = "Esc";   // the key in the editor
    var refused = {};   // key name -> {field id: reason} of the last refusal
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

    function marks(name, draft, saved) {
        var key = keys[name];
        var assignable = name in property;
        var assignment = assignable ? draft.assign[name] : null;
        key.classList.toggle("fixed", !assignable);
        key.classList.toggle("assigned", !!assignment && assignment.kind !== "Default");
        key.classList.toggle("selected", name === selected);
        key.classList.toggle("invalid", Object.keys(refused[name] || {}).length > 0);
        if (mode === "functions") {
            key.classList.toggle("changed", !!saved && assignable && !Assignment.same(saved.assign[name], assignment));
            key.title = assignable ? name + ": " + Assignment.describe(assignment, FUNCTIONS, DEFAULT_WORDS)
                                   : name + ": cannot be given another function";
        } else {
            key.title = name;
        }
    }

    function renderRefusals() {
        var lines = Object.keys(refused).filter(function (name) {
            return Object.keys(refused[name]).length > 0;
        }).map(function (name) {
            return name + ": " + Object.keys(refused[name]).map(function (id) { return refused[name][id]; }).join(" ");
        });
        $("key-refused").textContent = lines.length ? "Refused: " + lines.join(" \u2022 ") : "";
        $("key-refused").hidden = !lines.length;
    }

    function render(draft) {
        var saved = panel.saved();
        document.querySelectorAll("#keyboard-panel [data-mode]").forEach(function (element) {
            if (element.getAttribute("role") === "tab")
                element.classList.toggle("selected", element.dataset.mode === mode);
            else
                element.hidden = element.dataset.mode !== mode;
        });
        $("keyboard").classList.toggle("functions", mode === "functions");
        Object.keys(keys).forEach(function (name) {
            if (keys[name].classList.contains("extra"))
                keys[name].hidden = mode !== "functions";
            paint(name, draft.keys, saved && (mode === "colours" ? saved.keys : null));
            marks(name, draft, saved);
        });
        $("keyboard").style.height = ((LAYOUT.length + (mode === "functions" ? 1.5 : 0)) * UNIT) + "px";
        renderRefusals();
        if (mode === "functions")
            renderEditor();
    }

    function renderEditor() {
        Assignment.show($("key-editor-slot"), {
            functions: FUNCTIONS,
            firstFunction: FUNCTIONS[0][0],
            defaultWords: DEFAULT_WORDS,
            untouched: "This program has not changed this key.",
            title: "Key " + selected,
            current: function () { return panel.draft().assign[selected]; },
            saved: function () { return panel.saved().assign[selected]; },
            macroRequest: { version: version, button: property[selected],
                            title: "the key " + selected + " of Keyboard " + version },
            changed: function (assignment) {
                panel.draft().assign[selected] = assignment;
                panel.changed();
            }
        }, refused[selected]);
    }

    function selectKey(name) {
        if (!(name in property))
            return;
        selected = name;
        panel.changed();
    }

    function setMode(next) {
        mode = next;
        if (panel.draft())
            render(panel.draft());
    }

    function build() {
        var board = $("keyboard");
        var width = 0;
        KEY_PROPERTIES.forEach(function (run) {
            run[1].forEach(function (name, i) { property[name] = run[0] + i; });
        });
        LAYOUT.concat([EXTRA_ROW]).forEach(function (row, r) {
            var extra = r === LAYOUT.length;
            if (extra)
                r += 0.5;
            var x = 0;
            row.forEach(function (entry) {
                var name = entry[0], w = entry[1] || 1, gap = entry[2] || 0, h = entry[3] || 1;
                x += gap;
                var key = document.createElement("div");
                key.className = extra ? "key extra" : "key";
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
                    if (mode === "functions")
                        return selectKey(name);
                    if (extra)
                        return;
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
    }

    function read() {
        var asked = version;
        return DeviceFile.load(asked).then(function (loaded) {
            // A read overtaken by the opening of another keyboard leaves that keyboard's file alone.
            if (asked === version)
                file = loaded;
            var held = {};
            Object.keys(loaded.keys).forEach(function (name) {
                if (keys[name] && !keys[name].classList.contains("extra"))
                    held[name] = loaded.keys[name];
            });
            var assign = {};
            Object.keys(property).forEach(function (name) {
                var done = loaded.buttons[property[name]];
                assign[name] = done ? { kind: done.kind, task: done.task, count: done.count } : Panel.clone(Assignment.DEFAULT);
            });
            return { keys: held, assign: assign };
        });
    }

    // The keys whose colour the edit changes.
    function recoloured(saved, draft) {
        return Object.keys(keys).filter(function (name) { return saved.keys[name] !== draft.keys[name]; });
    }

    // Items "name#RRGGBB" as a JSON array text. A refused write names the keys it did not change.
    async function writeColours(saved, draft, outcome) {
        var items = Object.keys(draft.keys).map(function (name) {
            return name + "#" + draft.keys[name].substr(1).toUpperCase();
        });
        var result = await Bridge.call("WriteRGBDevice", { Version: version, DriverVersion: DRIVER, Data: JSON.stringify(items) });
        var what = items.length === 0 ? "every key dark" : items.length === 1 ? "the colour of 1 key"
                                                                              : "the colours of " + items.length + " keys";
        if (!result.ok) {
            var missed = recoloured(saved, draft);
            var shown = missed.length > 10 ? missed.slice(0, 9).concat([(missed.length - 9) + " more keys"]) : missed;
            var label = (missed.length === 1 ? "the colour of " : "the colours of ") + Panel.list(shown);
            outcome.failed.push(Panel.refused(label, result));
            return false;
        }
        outcome.done.push(what);
        file.keys = Panel.clone(draft.keys);
        return true;
    }

    function check(draft) {
        return Assignment.problemsOf("key-", Object.keys(property), draft.assign, panel.saved().assign,
                                     function (name) { return "the key " + name; });
    }

    function mark(id, text) {
        var name = Assignment.noteRefusal(refused, "key-", id, text);
        if (name === null)
            return Field.setError(id, text);
        if (name === selected && mode === "functions")
            Assignment.showErrors(refused[name]);
    }

    // The first refused key goes into the editor.
    function onRefused(problems) {
        var name = /^key-(.+)\/[^/]+$/.exec(problems[0].id)[1];
        mode = "functions";
        selected = name;
    }

    async function write(saved, draft) {
        var outcome = { done: [], failed: [], note: "" };
        var changed = false;
        if (recoloured(saved, draft).length)
            changed = await writeColours(saved, draft, outcome);
        for (var name in property) {
            var assignment = draft.assign[name];
            if (assignment.kind === "Default" || Assignment.same(assignment, saved.assign[name]))
                continue;
            var task = Assignment.taskOf(assignment);
            var result = await Bridge.call("WriteDevice", {
                Version: version, DriverVersion: DRIVER, Index: String(property[name]),
                Task: task.Task, TaskType: task.TaskType, TaskCount: task.TaskCount
            });
            if (result.ok)
                outcome.done.push("the key " + name);
            else
                outcome.failed.push(Panel.refused("the key " + name, result));
            if (result.ok) {
                file.buttons[property[name]] = Panel.clone(assignment);
                changed = true;
            }
        }
        if (changed && !(await DeviceFile.save(version, file)))
            outcome.note = "What was written could not be kept in the program's files; after a restart the keys may show wrongly.";
        return outcome;
    }

    // A macro made in the editor for one of the keys: it becomes that key's edit.
    function useMacro(made) {
        var name = Object.keys(property).filter(function (n) { return property[n] === made.button; })[0];
        if (made.version !== version || !panel.saved() || !name) {
            Status.error("The macro was not used: Keyboard " + made.version + " is no longer open.");
            return;
        }
        panel.draft().assign[name] = Assignment.withMacro(panel.draft().assign[name], made.macro);
        mode = "functions";
        selected = name;
        panel.changed();
        Status.info("Macro ready for the key " + name + ". Press Apply to write it to the keyboard.");
    }

    function init() {
        build();
        panel = Panel.create({
            id: "keyboard-panel",
            name: function () { return "the keyboard"; },
            read: read,
            render: render,
            check: check,
            mark: mark,
            onRefused: onRefused,
            write: write,
            onRefresh: render
        });
        document.querySelectorAll("#keyboard-panel [role=tab]").forEach(function (tab) {
            tab.addEventListener("click", function () { setMode(tab.dataset.mode); });
        });
        $("keys-all").addEventListener("click", function () {
            var chosen = $("key-colour").value.toLowerCase();
            var colours = panel.draft().keys;
            Object.keys(keys).forEach(function (name) {
                if (!keys[name].classList.contains("extra"))
                    colours[name] = chosen;
            });
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
        refused = {};
        $("keyboard-title").textContent = "Keyboard " + version;
        return panel.open();
    }

    return {
        init: init,
        open: open,
        hasUnsavedChanges: function () { return panel.hasUnsavedChanges(); },
        discard: function () { panel.discard(); },
        useMacro: useMacro,
        name: function () { return "Keyboard " + version; },
        shown: function () { if (panel.draft()) render(panel.draft()); }
    };
})();
