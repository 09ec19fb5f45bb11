// A mouse's own settings: resolution steps, report rate, light and what each button does (a
// mouse function, a key combination, a media key or a macro that the mouse keeps in its memory).
// The mouse reports its resolution steps, report rate and light; what its buttons do it cannot
// report, so the page keeps what it wrote in the mouse's page file and shows that.
var MousePanel = (function () {
    "use strict";

    // Device properties of the mouse description.
    var STEP_COUNT = 5;         // steps 0-4 are properties 50-54
    var FIRST_STEP = 50;
    var CURRENT_STEP = 48;
    var REPORT_RATE = 40;
    var LIGHT = 42;             // 10 bytes: effect, brightness, speed, red, green, blue, 3 more, 0
    var FIRST_BUTTON = 61;
    var DPI_UNIT = 50;          // a step holds its resolution divided by 50 in one byte
    var DPI_MAX = 255 * DPI_UNIT;
    var MAX_KEYS = 3;           // a key combination holds at most three keys
    var MACRO_EDITOR = new URL("../popup/index.html", location.href).href;

    var BUTTONS = ["Left button", "Right button", "Middle button", "Back button", "Forward button",
                   "Button 6", "Button 7", "Button 8"];
    // The same in a sentence.
    var BUTTON_WORDS = ["the left button", "the right button", "the middle button", "the back button",
                        "the forward button", "button 6", "button 7", "button 8"];
    var FUNCTIONS = [
        ["LeftClick", "Left click"], ["RightClick", "Right click"], ["MiddleClick", "Middle click"],
        ["Back", "Back"], ["Forward", "Forward"], ["ScrollUp", "Scroll up"], ["ScrollDown", "Scroll down"],
        ["ScrollLeft", "Scroll left"], ["ScrollRight", "Scroll right"], ["DpiCycling", "Next resolution step"],
        ["DpiUp", "Resolution up"], ["DpiDown", "Resolution down"], ["LockX", "Lock horizontal axis"],
        ["LockY", "Lock vertical axis"], ["ReportrateUp", "Report rate up"], ["ReportrateDown", "Report rate down"],
        ["SwitchLight", "Switch light"], ["ResetToDefaults", "Reset to defaults"]
    ];
    // The function a button has when it first gets one here.
    var FIRST_FUNCTION = ["LeftClick", "RightClick", "MiddleClick", "Back", "Forward"];
    // Consumer-control usages, low byte first, as the device takes them.
    var MEDIA = [
        ["0x03,0x00,0xCD,0x00", "Play / pause"], ["0x03,0x00,0xB7,0x00", "Stop"],
        ["0x03,0x00,0xB6,0x00", "Previous track"], ["0x03,0x00,0xB5,0x00", "Next track"],
        ["0x03,0x00,0xE9,0x00", "Volume up"], ["0x03,0x00,0xEA,0x00", "Volume down"],
        ["0x03,0x00,0xE2,0x00", "Mute"], ["0x03,0x00,0x83,0x01", "Media player"]
    ];

    var version = "";
    var file = DeviceFile.empty(); // the mouse's page file as last read
    var selected = 0;              // the button in the editor
    var panel = null;
    var $ = function (id) { return document.getElementById(id); };

    function hexByte(n) {
        return "0x" + ("0" + (n & 255).toString(16)).slice(-2);
    }

    function labelOf(pairs, value) {
        for (var i = 0; i < pairs.length; ++i) {
            if (pairs[i][0] === value)
                return pairs[i][1];
        }
        return null;
    }

    function fillSelect(select, pairs) {
        pairs.forEach(function (pair) {
            var option = document.createElement("option");
            option.value = pair[0];
            option.textContent = pair[1];
            select.appendChild(option);
        });
    }

    // Shows value in a select; a value none of its choices has gets a choice of its own, so that
    // what is shown is what the mouse holds.
    function showInSelect(select, value, otherLabel) {
        select.querySelectorAll("option[data-other]").forEach(function (option) { option.remove(); });
        var known = Array.from(select.options).some(function (option) { return option.value === value; });
        if (!known) {
            var option = document.createElement("option");
            option.value = value;
            option.textContent = otherLabel;
            option.dataset.other = "";
            select.appendChild(option);
        }
        select.value = value;
    }

    // ---- what the mouse holds ----

    function read() {
        var asked = version;
        var calls = [MouseReport.read(asked), DeviceFile.load(asked)];
        for (var i = 0; i < STEP_COUNT; ++i)
            calls.push(Bridge.call("ReadDevicesDpiVal", { Version: asked, DpiIndex: String(i) }));
        return Promise.all(calls).then(function (results) {
            var report = results[0] || {};
            if (!results[0])
                Status.error("The mouse's settings could not be read.");
            // A read overtaken by the opening of another mouse leaves that mouse's file alone.
            if (asked === version)
                file = results[1];
            var steps = results.slice(2).map(function (result) {
                var values = {};
                try {
                    values = JSON.parse(result.answer);
                } catch (e) {
                    values = {};
                }
                return { x: String(values.DpiXVal || "0"), y: String(values.DpiYVal || "0") };
            });
            // effect, brightness, speed, colour (two hexadecimal digits per byte), three more
            var light = (report.lightVal || "0,0,0,000000,0,0,0").split(",");
            return {
                steps: steps,
                current: String(Number(report.curDpi) || 0),
                rate: hexByte(Number(report.reporVal) || 0),
                light: {
                    effect: String(Number(light[0]) || 0),
                    brightness: Number(light[1]) || 0,
                    speed: Number(light[2]) || 0,
                    colour: /^[0-9a-f]{6}$/.test(light[3]) ? "#" + light[3] : "#000000",
                    tail: [Number(light[4]) || 0, Number(light[5]) || 0, Number(light[6]) || 0]
                },
                buttons: BUTTONS.map(function (name, i) {
                    var held = results[1].buttons[FIRST_BUTTON + i];
                    return held ? { kind: held.kind, task: held.task, count: held.count } : { kind: "Default", task: "", count: "" };
                })
            };
        });
    }

    // ---- showing it ----

    function describeKeys(task) {
        return task.split("+").filter(Boolean).join(" + ");
    }

    function describe(assignment) {
        switch (assignment.kind) {
        case "MouseFunction":
            return labelOf(FUNCTIONS, assignment.task) || assignment.task;
        case "HotKey":
            return describeKeys(assignment.task) || "No keys";
        case "MultiMedia":
            return labelOf(MEDIA, assignment.task) || "Media key";
        case "Macro":
            return assignment.task ? "Macro: " + MacroText.summary(assignment.task) : "Macro (none made yet)";
        default:
            return "What the mouse came with";
        }
    }

    function renderButtonList(draft, saved) {
        var list = $("button-list");
        list.textContent = "";
        BUTTONS.forEach(function (name, i) {
            var item = document.createElement("li");
            item.dataset.index = String(i);
            item.tabIndex = 0;
            item.classList.toggle("selected", i === selected);
            var changed = saved && JSON.stringify(saved.buttons[i]) !== JSON.stringify(draft.buttons[i]);
            item.classList.toggle("changed", !!changed);
            item.innerHTML = '<span class="name"></span><span class="does"></span>';
            item.firstChild.textContent = name;
            item.lastChild.textContent = describe(draft.buttons[i]);
            item.lastChild.classList.toggle("muted", draft.buttons[i].kind === "Default");
            item.title = item.lastChild.textContent;
            list.appendChild(item);
        });
    }

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
            showInSelect($("hk-key"), key, key);
    }

    function renderEditor() {
        var draft = panel.draft(), saved = panel.saved();
        var assignment = draft.buttons[selected];
        $("button-editor-title").textContent = BUTTONS[selected];
        // A button the program never changed can keep what the mouse came with; one it changed
        // cannot go back to that but through a reset.
        $("assign-kind").querySelector('option[value="Default"]').hidden = saved.buttons[selected].kind !== "Default";
        $("assign-kind").value = assignment.kind;
        showKindRows(assignment.kind);
        $("assign-function").value = assignment.kind === "MouseFunction" ? assignment.task
                                                                           : FIRST_FUNCTION[selected] || FUNCTIONS[0][0];
        $("assign-media").value = assignment.kind === "MultiMedia" ? assignment.task : MEDIA[0][0];
        setHotKey(assignment.kind === "HotKey" ? assignment.task : "");
        var macro = assignment.kind === "Macro" ? assignment.task : "";
        $("macro-summary").textContent = macro ? MacroText.summary(macro) : "No macro yet: make one with Edit\u2026";
        $("macro-summary").classList.toggle("muted", !macro);
        $("assign-repeat").value = assignment.kind === "Macro" ? assignment.count : "1";
        Field.setError("hk-key", "");
        Field.setError("macro-summary", "");
        Field.setError("assign-repeat", "");
    }

    function render(draft) {
        var rows = $("dpi-steps").rows;
        draft.steps.forEach(function (step, i) {
            rows[i].querySelector('[data-axis="x"]').value = step.x;
            rows[i].querySelector('[data-axis="y"]').value = step.y;
            rows[i].querySelector('input[type="radio"]').checked = draft.current === String(i);
        });
        $("dpi-error").hidden = true;
        var rate = Number(draft.rate);
        showInSelect($("report-rate"), draft.rate, "Other (" + rate + ")");
        showInSelect($("light-effect"), draft.light.effect, "Other (" + draft.light.effect + ")");
        $("light-colour").value = draft.light.colour;
        ["brightness", "speed"].forEach(function (name) {
            var slider = $("light-" + name);
            slider.max = Math.max(10, draft.light[name]);
            slider.value = draft.light[name];
        });
        renderEditor();
        showValues(draft);
    }

    // The texts beside the controls, and the button list, after any change.
    function showValues(draft) {
        $("light-colour-value").textContent = draft.light.colour.toUpperCase();
        $("light-brightness-value").textContent = draft.light.brightness;
        $("light-speed-value").textContent = draft.light.speed;
        var saved = panel.saved();
        if (!saved)
            return;
        document.querySelectorAll("#dpi-steps tr").forEach(function (row, i) {
            row.classList.toggle("changed", JSON.stringify(saved.steps[i]) !== JSON.stringify(draft.steps[i]) ||
                                            (saved.current === String(i)) !== (draft.current === String(i)));
        });
        renderButtonList(draft, saved);
    }

    // ---- editing ----

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

    // The selected button's assignment as the editor shows it.
    function editedAssignment() {
        var kind = $("assign-kind").value;
        var current = panel.draft().buttons[selected];
        var saved = panel.saved().buttons[selected];
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
            return Panel.clone(saved);
        }
    }

    function editorChanged() {
        panel.draft().buttons[selected] = editedAssignment();
        showKindRows($("assign-kind").value);
        Field.setError("hk-key", "");
        Field.setError("assign-repeat", "");
        panel.changed();
    }

    function selectButton(i) {
        selected = i;
        renderEditor();
        panel.changed();
    }

    function validate(draft) {
        var saved = panel.saved();
        var ok = true;
        var firstStepError = "";
        draft.steps.forEach(function (step, i) {
            ["x", "y"].forEach(function (axis) {
                if (step[axis] === saved.steps[i][axis])
                    return;
                var checked = Field.wholeNumber(step[axis], DPI_UNIT, DPI_MAX, DPI_UNIT);
                Field.setError("step-" + i + "-" + axis, checked.error || "");
                if (checked.error) {
                    ok = false;
                    if (!firstStepError)
                        firstStepError = "Step " + (i + 1) + ", " + (axis === "x" ? "horizontal" : "vertical") + ": " + checked.error;
                }
            });
        });
        $("dpi-error").textContent = firstStepError;
        $("dpi-error").hidden = !firstStepError;

        var firstBad = -1;
        draft.buttons.forEach(function (assignment, i) {
            if (JSON.stringify(assignment) === JSON.stringify(saved.buttons[i]))
                return;
            var errors = {};
            if (assignment.kind === "HotKey") {
                var count = assignment.task.split("+").filter(Boolean).length;
                if (count === 0)
                    errors["hk-key"] = "Choose a key, or at least one of Ctrl, Shift, Alt and Win.";
                else if (count > MAX_KEYS)
                    errors["hk-key"] = "Too many keys: a button holds three at most, for example Ctrl + Shift + C.";
            } else if (assignment.kind === "Macro") {
                if (!assignment.task)
                    errors["macro-summary"] = "Make a macro with Edit\u2026 first.";
                var times = Field.wholeNumber(assignment.count, 1, 255);
                if (times.error)
                    errors["assign-repeat"] = times.error;
            }
            if (Object.keys(errors).length && firstBad < 0) {
                firstBad = i;
                selectButton(i);
                Object.keys(errors).forEach(function (id) { Field.setError(id, errors[id]); });
            }
        });
        return ok && firstBad < 0;
    }

    // ---- writing ----

    function writeProperty(index, taskType, task, taskCount) {
        return Bridge.call("WriteDevice", {
            Version: version,
            DriverVersion: "M1.0",
            Index: String(index),
            Task: task,
            TaskType: taskType,
            TaskCount: taskCount || ""
        });
    }

    async function write(saved, draft) {
        var done = [], failed = [], note = "";
        async function one(label, index, taskType, task, taskCount) {
            var result = await writeProperty(index, taskType, task, taskCount);
            (result.ok ? done : failed).push(label);
            return result.ok;
        }
        for (var i = 0; i < STEP_COUNT; ++i) {
            var step = draft.steps[i];
            if (JSON.stringify(step) !== JSON.stringify(saved.steps[i]))
                await one("resolution step " + (i + 1), FIRST_STEP + i, "DPI", "0|" + Number(step.x) + "|" + Number(step.y));
        }
        if (draft.current !== saved.current)
            await one("the step in use", CURRENT_STEP, "MultiMedia", hexByte(Number(draft.current)));
        if (draft.rate !== saved.rate)
            await one("the report rate", REPORT_RATE, "MultiMedia", draft.rate);
        if (JSON.stringify(draft.light) !== JSON.stringify(saved.light)) {
            var c = draft.light.colour;
            var bytes = [Number(draft.light.effect), draft.light.brightness, draft.light.speed,
                         parseInt(c.substr(1, 2), 16), parseInt(c.substr(3, 2), 16), parseInt(c.substr(5, 2), 16)]
                .concat(draft.light.tail, [0]);
            await one("the light", LIGHT, "MultiMedia", bytes.map(hexByte).join(","));
        }
        var buttonsWritten = false;
        for (var b = 0; b < BUTTONS.length; ++b) {
            var assignment = draft.buttons[b];
            if (assignment.kind === "Default" || JSON.stringify(assignment) === JSON.stringify(saved.buttons[b]))
                continue;
            // The mouse reads the repeat count as a hexadecimal byte.
            var count = assignment.kind === "Macro" ? Number(assignment.count).toString(16) : "";
            if (await one(BUTTON_WORDS[b], FIRST_BUTTON + b, assignment.kind, assignment.task, count)) {
                file.buttons[FIRST_BUTTON + b] = Panel.clone(assignment);
                buttonsWritten = true;
            }
        }
        if (buttonsWritten && !(await DeviceFile.save(version, file)))
            note = "What the buttons do could not be kept in the program's files; after a restart they may show wrongly.";
        return { done: done, failed: failed, note: note };
    }

    // ---- the macro editor ----

    function openMacroEditor() {
        var assignment = panel.draft().buttons[selected];
        var request = {
            version: version,
            button: selected,
            title: BUTTON_WORDS[selected] + " of Mouse " + version,
            macro: assignment.kind === "Macro" ? assignment.task : ""
        };
        Bridge.post("OpenView", { Url: MACRO_EDITOR + "#" + encodeURIComponent(JSON.stringify(request)),
                                  width: 480, height: 480 });
    }

    // A macro made in the editor for one of the mouse's buttons: it becomes that button's edit.
    function useMacro(made) {
        if (made.version !== version || !panel.saved()) {
            Status.error("The macro was not used: Mouse " + made.version + " is no longer open.");
            return;
        }
        var assignment = panel.draft().buttons[made.button];
        var count = assignment.kind === "Macro" && assignment.count ? assignment.count : "1";
        panel.draft().buttons[made.button] = { kind: "Macro", task: made.macro, count: count };
        selectButton(made.button);
        Status.info("Macro ready for " + BUTTON_WORDS[made.button] + ". Press Apply to write it to the mouse.");
    }

    // ---- set-up ----

    function buildSteps() {
        var body = $("dpi-steps");
        for (var i = 0; i < STEP_COUNT; ++i) {
            var row = document.createElement("tr");
            row.innerHTML =
                '<td><input type="radio" name="current-step" value="' + i + '" aria-label="In use"></td>' +
                '<td>' + (i + 1) + '</td>' +
                '<td><input id="step-' + i + '-x" class="number" type="text" inputmode="numeric" maxlength="6" data-axis="x"></td>' +
                '<td class="unit">dpi</td>' +
                '<td><input id="step-' + i + '-y" class="number" type="text" inputmode="numeric" maxlength="6" data-axis="y"></td>' +
                '<td class="unit">dpi</td>';
            body.appendChild(row);
            (function (step, row) {
                row.querySelectorAll("[data-axis]").forEach(function (input) {
                    input.addEventListener("input", function () {
                        panel.draft().steps[step][input.dataset.axis] = input.value;
                        Field.setError(input.id, "");
                        panel.changed();
                    });
                });
                row.querySelector('input[type="radio"]').addEventListener("change", function () {
                    panel.draft().current = String(step);
                    panel.changed();
                });
            })(i, row);
        }
    }

    // The keys a combination can name, from the key table, once it has been read.
    function useKeyNames(names) {
        KeyNames.fillSelect($("hk-key"), names, { exclude: KeyNames.MODIFIERS, first: ["", "(no other key)"] });
        if (panel.draft())
            renderEditor();
    }

    function init() {
        buildSteps();
        fillSelect($("assign-function"), FUNCTIONS);
        fillSelect($("assign-media"), MEDIA);
        KeyNames.MODIFIERS.forEach(function (name) {
            var label = document.createElement("label");
            label.className = "toggle";
            label.innerHTML = '<input type="checkbox"><span></span>';
            label.firstChild.value = name;
            label.lastChild.textContent = name;
            $("hk-modifiers").appendChild(label);
        });
        KeyNames.fillSelect($("hk-key"), [], { first: ["", "(no other key)"] });

        panel = Panel.create({
            id: "mouse-panel",
            name: function () { return "the mouse"; },
            read: read,
            render: render,
            validate: validate,
            write: write,
            onRefresh: showValues
        });

        $("report-rate").addEventListener("change", function () {
            panel.draft().rate = $("report-rate").value;
            panel.changed();
        });
        $("light-effect").addEventListener("change", function () {
            panel.draft().light.effect = $("light-effect").value;
            panel.changed();
        });
        $("light-colour").addEventListener("input", function () {
            panel.draft().light.colour = $("light-colour").value.toLowerCase();
            panel.changed();
        });
        ["brightness", "speed"].forEach(function (name) {
            $("light-" + name).addEventListener("input", function () {
                panel.draft().light[name] = Number($("light-" + name).value);
                panel.changed();
            });
        });
        $("button-list").addEventListener("click", function (e) {
            var item = e.target.closest("li");
            if (item)
                selectButton(Number(item.dataset.index));
        });
        $("button-list").addEventListener("keydown", function (e) {
            var item = e.target.closest("li");
            if (item && (e.key === "Enter" || e.key === " "))
                selectButton(Number(item.dataset.index));
        });
        ["assign-kind", "assign-function", "assign-media", "hk-key"].forEach(function (id) {
            $(id).addEventListener("change", editorChanged);
        });
        $("hk-modifiers").addEventListener("change", editorChanged);
        $("assign-repeat").addEventListener("input", editorChanged);
        $("macro-edit").addEventListener("click", openMacroEditor);
        $("mouse-reset").addEventListener("click", reset);
    }

    async function reset() {
        if (panel.busy())
            return;
        var go = await Dialog.confirm({
            title: "Reset Mouse " + version + "?",
            text: "Its resolution steps, report rate, light and buttons go back to what the mouse came with." +
                  (panel.hasUnsavedChanges() ? " Your unsaved changes are dropped too." : ""),
            confirm: "Reset the mouse",
            cancel: "Keep the settings",
            danger: true
        });
        if (!go)
            return;
        Status.busy("Resetting the mouse\u2026");
        var result = await Bridge.call("RestDevice", { Version: version });
        var kept = true;
        if (result.ok) {
            file.buttons = {};
            kept = await DeviceFile.save(version, file);
        }
        await panel.reload();
        if (!result.ok)
            Status.error("The mouse could not be reset. The page shows what it holds now.");
        else if (!kept)
            Status.error("The mouse is back to its defaults, but the program's files could not be updated.");
        else
            Status.ok("Mouse " + version + " is back to what it came with.");
    }

    function open(deviceVersion) {
        version = deviceVersion;
        selected = 0;
        file = DeviceFile.empty();
        $("mouse-title").textContent = "Mouse " + version;
        return panel.open();
    }

    return {
        init: init,
        useKeyNames: useKeyNames,
        open: open,
        useMacro: useMacro,
        hasUnsavedChanges: function () { return panel.hasUnsavedChanges(); },
        discard: function () { panel.discard(); },
        name: function () { return "Mouse " + version; }
    };
})();
