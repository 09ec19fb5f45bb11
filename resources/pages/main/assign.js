// What a mouse button or a keyboard key does: a device function, a key combination, a media key or
// a macro the device keeps in its memory, written with "WriteDevice" and kept in the device's page
// file, since no device reports it. One editor serves both pages; the page that shows it lends it
// its own functions and words.
var Assignment = (function () {
    "use strict";

    var MAX_KEYS = 3;           // a key combination holds at most three keys
    var MACRO_EDITOR = new URL("../popup/index.html", location.href).href;
    // Consumer-control usages, low byte first, as the devices take them.
    var MEDIA = [
        ["0x03,0x00,0xCD,0x00", "Play / pause"], ["0x03,0x00,0xB7,0x00", "Stop"],
        ["0x03,0x00,0xB6,0x00", "Previous track"], ["0x03,0x00,0xB5,0x00", "Next track"],
        ["0x03,0x00,0xE9,0x00", "Volume up"], ["0x03,0x00,0xEA,0x00", "Volume down"],
        ["0x03,0x00,0xE2,0x00", "Mute"], ["0x03,0x00,0x83,0x01", "Media player"]
    ];
    var DEFAULT = { kind: "Default", task: "", count: "" };

    // The page using the editor:
    //   functions: [[task, label], ...] its device's functions
    //   firstFunction: the function shown when the thing gets its first one
    //   defaultWords: what the thing does when this program has not changed it
    //   untouched: the hint for that
    //   current(), saved(): the edited and the held assignment of the thing in the editor
    //   title: the editor's heading
    //   macroRequest: {version, button, title} for the macro editor
    //   changed(assignment): the user changed the edited assignment
    var owner = null;
    var $ = function (id) { return document.getElementById(id); };

    function labelOf(pairs, value) {
        for (var i = 0; i < pairs.length; ++i) {
            if (pairs[i][0] === value)
                return pairs[i][1];
        }
        return null;
    }

    function describeKeys(task) {
        return task.split("+").filter(Boolean).join(" + ");
    }

    // In a few words, for a list of buttons or keys.
    function describe(assignment, functions, defaultWords) {
        switch (assignment.kind) {
        case "MouseFunction":
            return labelOf(functions, assignment.task) || assignment.task;
        case "HotKey":
            return describeKeys(assignment.task) || "No keys";
        case "MultiMedia":
            return labelOf(MEDIA, assignment.task) || "Media key";
        case "Macro":
            return assignment.task ? "Macro: " + MacroText.summary(assignment.task) : "Macro (none made yet)";
        default:
            return defaultWords;
        }
    }

    // Why the assignment cannot be written: {field id: reason}, empty when it can.
    function problems(assignment) {
        var errors = {};
        if (assignment.kind === "HotKey") {
            var count = assignment.task.split("+").filter(Boolean).length;
            if (count === 0)
                errors["hk-key"] = "Choose a key, or at least one of Ctrl, Shift, Alt and Win.";
            else if (count > MAX_KEYS)
                errors["hk-key"] = "Too many keys: a combination holds three at most, for example Ctrl + Shift + C.";
        } else if (assignment.kind === "Macro") {
            if (!assignment.task)
                errors["macro-summary"] = "Make a macro with Edit\u2026 first.";
            var times = Field.wholeNumber(assignment.count, 1, 255);
            if (times.error)
                errors["assign-repeat"] = times.error;
        }
        return errors;
    }

    // The arguments of "WriteDevice" that give the assignment.
    function taskOf(assignment) {
        return {
            TaskType: assignment.kind,
            Task: assignment.task,
            // The device reads the repeat count as a hexadecimal byte.
            TaskCount: assignment.kind === "Macro" ? Number(assignment.count).toString(16) : ""
        };
    }

    function same(a, b) {
        return JSON.stringify(a) === JSON.stringify(b);
    }

    // What the assignments that differ from the saved ones cannot be written for: one problem for
    // each bad field, its id "<prefix><key>/<field>", labelled label(key).
    function problemsOf(prefix, keys, draft, saved, label) {
        var found = [];
        keys.forEach(function (key) {
            if (same(draft[key], saved[key]))
                return;
            var errors = problems(draft[key]);
            Object.keys(errors).forEach(function (field) {
                found.push({ id: prefix + key + "/" + field, label: label(key), text: errors[field] });
            });
        });
        return found;
    }

    // Keeps the reason given for an id "<prefix><key>/<field>" in refused[key][field], or forgets
    // it when there is none. The key, or null for an id of another form.
    function noteRefusal(refused, prefix, id, text) {
        var slash = id.lastIndexOf("/");
        if (id.indexOf(prefix) !== 0 || slash <= prefix.length)
            return null;
        var key = id.substring(prefix.length, slash), field = id.substring(slash + 1);
        refused[key] = refused[key] || {};
        if (text)
            refused[key][field] = text;
        else
            delete refused[key][field];
        return key;
    }

    // ---- the editor ----

    function showKindRows(kind) {
        document.querySelectorAll("#button-editor [data-kind]").forEach(function (row) {
            row.hidden = row.dataset.kind !== kind;
        });
    }

    function setHotKey(task) {
        var parts = task.split("+").filter(Boolean);
        document.querySelectorAll("#hk-modifiers input").forEach(function (box) {
            box.checked = parts.indexOf(box.value) >= 0;
        });
        var key = parts.filter(function (p) { return KeyNames.MODIFIERS.indexOf(p) < 0; })[0] || "";
        $("hk-key").value = key;
        if ($("hk-key").value !== key)
            Choices.show($("hk-key"), key, key);
    }

    function hotKeyTask() {
        var parts = [];
        document.querySelectorAll("#hk-modifiers input").forEach(function (box) {
            if (box.checked)
                parts.push(box.value);
        });
        if ($("hk-key").value)
            parts.push($("hk-key").value);
        return parts.join("+");
    }

    // Shows the messages of a refusal for the thing in the editor: {field id: reason}.
    function showErrors(errors) {
        ["hk-key", "macro-summary", "assign-repeat"].forEach(function (id) {
            Field.setError(id, (errors || {})[id] || "");
        });
    }

    // Puts the editor into the container and shows what the owner's thing does.
    function show(container, newOwner, errors) {
        owner = newOwner;
        var editor = $("button-editor");
        if (editor.parentNode !== container)
            container.appendChild(editor);
        var assignment = owner.current(), saved = owner.saved();
        Choices.fill($("assign-function"), owner.functions);
        $("button-editor-title").textContent = owner.title;
        $("assign-untouched").textContent = owner.untouched;
        $("assign-kind").querySelector('option[value="Default"]').textContent = owner.defaultWords;
        // A thing the program never changed can keep what it came with; one it changed cannot go
        // back to that but through a reset.
        $("assign-kind").querySelector('option[value="Default"]').hidden = saved.kind !== "Default";
        $("assign-kind").value = assignment.kind;
        showKindRows(assignment.kind);
        $("assign-function").value = assignment.kind === "MouseFunction" ? assignment.task : owner.firstFunction;
        if (assignment.kind === "MouseFunction")
            Choices.show($("assign-function"), assignment.task, assignment.task);
        $("assign-media").value = assignment.kind === "MultiMedia" ? assignment.task : MEDIA[0][0];
        setHotKey(assignment.kind === "HotKey" ? assignment.task : "");
        var macro = assignment.kind === "Macro" ? assignment.task : "";
        $("macro-summary").textContent = macro ? MacroText.summary(macro) : "No macro yet: make one with Edit\u2026";
        $("macro-summary").classList.toggle("muted", !macro);
        $("assign-repeat").value = assignment.kind === "Macro" ? assignment.count : "1";
        showErrors(errors);
    }

    // The assignment as the editor shows it.
    function edited() {
        var kind = $("assign-kind").value;
        var current = owner.current(), saved = owner.saved();
        switch (kind) {
        case "MouseFunction":
            return { kind: kind, task: $("assign-function").value, count: "" };
        case "HotKey":
            return { kind: kind, task: hotKeyTask(), count: "" };
        case "MultiMedia":
            return { kind: kind, task: $("assign-media").value, count: "" };
        case "Macro":
            var macro = current.kind === "Macro" ? current.task : saved.kind === "Macro" ? saved.task : "";
            return { kind: kind, task: macro, count: $("assign-repeat").value.trim() };
        default:
            return JSON.parse(JSON.stringify(saved));
        }
    }

    function editorChanged() {
        if (!owner)
            return;
        showKindRows($("assign-kind").value);
        owner.changed(edited());
    }

    function openMacroEditor() {
        if (!owner)
            return;
        var request = Object.assign({}, owner.macroRequest, {
            macro: owner.current().kind === "Macro" ? owner.current().task : ""
        });
        Bridge.post("OpenView", { Url: MACRO_EDITOR + "#" + encodeURIComponent(JSON.stringify(request)),
                                  width: 520, height: 560 });
    }

    // A macro for a thing keeps the repeat count it had.
    function withMacro(assignment, macro) {
        var count = assignment.kind === "Macro" && assignment.count ? assignment.count : "1";
        return { kind: "Macro", task: macro, count: count };
    }

    // The keys a combination can name, from the key table, once it has been read.
    function useKeyNames(names) {
        var key = $("hk-key").value;
        KeyNames.fillSelect($("hk-key"), names, { exclude: KeyNames.MODIFIERS, first: ["", "(no other key)"] });
        $("hk-key").value = key;
    }

    function init() {
        Choices.fill($("assign-media"), MEDIA);
        KeyNames.MODIFIERS.forEach(function (name) {
            var label = document.createElement("label");
            label.className = "toggle";
            label.innerHTML = '<input type="checkbox"><span></span>';
            label.firstChild.value = name;
            label.lastChild.textContent = name;
            $("hk-modifiers").appendChild(label);
        });
        KeyNames.fillSelect($("hk-key"), [], { first: ["", "(no other key)"] });
        ["assign-kind", "assign-function", "assign-media", "hk-key"].forEach(function (id) {
            $(id).addEventListener("change", editorChanged);
        });
        $("hk-modifiers").addEventListener("change", editorChanged);
        $("assign-repeat").addEventListener("input", editorChanged);
        $("macro-edit").addEventListener("click", openMacroEditor);
    }

    return {
        DEFAULT: DEFAULT, MEDIA: MEDIA,
        init: init, show: show, showErrors: showErrors, useKeyNames: useKeyNames,
        describe: describe, problems: problems, problemsOf: problemsOf, noteRefusal: noteRefusal,
        taskOf: taskOf, same: same, withMacro: withMacro
    };
})();
