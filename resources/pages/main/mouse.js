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
    var DEFAULT_WORDS = "What the mouse came with";

    var version = "";
    var file = DeviceFile.empty(); // the mouse's page file as last read
    var selected = 0;              // the button in the editor
    var refused = {};              // button -> {field id: reason} of the last refusal
    var panel = null;
    var $ = function (id) { return document.getElementById(id); };

    function hexByte(n) {
        return "0x" + ("0" + (n & 255).toString(16)).slice(-2);
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
                    return held ? { kind: held.kind, task: held.task, count: held.count } : Panel.clone(Assignment.DEFAULT);
                })
            };
        });
    }

    // ---- showing it ----

    function renderButtonList(draft, saved) {
        var list = $("button-list");
        list.textContent = "";
        BUTTONS.forEach(function (name, i) {
            var item = document.createElement("li");
            item.dataset.index = String(i);
            item.tabIndex = 0;
            item.classList.toggle("selected", i === selected);
            item.classList.toggle("changed", !!saved && !Assignment.same(saved.buttons[i], draft.buttons[i]));
            item.innerHTML = '<span class="name"></span><span class="does"></span>';
            item.firstChild.textContent = name;
            item.lastChild.textContent = Assignment.describe(draft.buttons[i], FUNCTIONS, DEFAULT_WORDS);
            item.lastChild.classList.toggle("muted", draft.buttons[i].kind === "Default");
            item.title = item.lastChild.textContent;
            // Every refused button says why in the list, the one in the editor beside its fields too.
            var reasons = Object.keys(refused[i] || {}).map(function (id) { return refused[i][id]; });
            item.classList.toggle("invalid", reasons.length > 0);
            if (reasons.length) {
                var why = document.createElement("span");
                why.className = "field-error";
                why.textContent = reasons.join(" ");
                item.appendChild(why);
                item.title += "\n" + why.textContent;
            }
            list.appendChild(item);
        });
    }

    function renderEditor() {
        Assignment.show($("button-editor-slot"), {
            functions: FUNCTIONS,
            firstFunction: FIRST_FUNCTION[selected] || FUNCTIONS[0][0],
            defaultWords: DEFAULT_WORDS,
            untouched: "This program has not changed this button.",
            title: BUTTONS[selected],
            current: function () { return panel.draft().buttons[selected]; },
            saved: function () { return panel.saved().buttons[selected]; },
            macroRequest: { version: version, button: selected, title: BUTTON_WORDS[selected] + " of Mouse " + version },
            changed: function (assignment) {
                panel.draft().buttons[selected] = assignment;
                panel.changed();
            }
        }, refused[selected]);
    }

    function render(draft) {
        var rows = document.querySelectorAll("#dpi-steps tr.step");
        draft.steps.forEach(function (step, i) {
            rows[i].querySelector('[data-axis="x"]').value = step.x;
            rows[i].querySelector('[data-axis="y"]').value = step.y;
            rows[i].querySelector('input[type="radio"]').checked = draft.current === String(i);
        });
        var rate = Number(draft.rate);
        Choices.show($("report-rate"), draft.rate, "Other (" + rate + ")");
        Choices.show($("light-effect"), draft.light.effect, "Other (" + draft.light.effect + ")");
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
        document.querySelectorAll("#dpi-steps tr.step").forEach(function (row, i) {
            row.classList.toggle("changed", JSON.stringify(saved.steps[i]) !== JSON.stringify(draft.steps[i]) ||
                                            (saved.current === String(i)) !== (draft.current === String(i)));
        });
        renderButtonList(draft, saved);
    }

    // ---- editing ----

    function selectButton(i) {
        selected = i;
        renderEditor();
        panel.changed();
    }

    function stepWords(i, axis) {
        return "the " + (axis === "x" ? "horizontal" : "vertical") + " resolution of step " + (i + 1);
    }

    // Values changed here that the mouse cannot take; a value it holds is never refused.
    function check(draft) {
        var saved = panel.saved();
        var problems = [];
        draft.steps.forEach(function (step, i) {
            ["x", "y"].forEach(function (axis) {
                if (step[axis] === saved.steps[i][axis])
                    return;
                var checked = Field.wholeNumber(step[axis], DPI_UNIT, DPI_MAX, DPI_UNIT);
                if (checked.error) {
                    problems.push({ id: "step-" + i + "-" + axis, label: stepWords(i, axis),
                                    text: (axis === "x" ? "Horizontal: " : "Vertical: ") + checked.error });
                }
            });
        });
        var buttons = BUTTONS.map(function (name, i) { return i; });
        return problems.concat(Assignment.problemsOf("button-", buttons, draft.buttons, saved.buttons,
                                                     function (i) { return BUTTON_WORDS[i]; }));
    }

    function mark(id, text) {
        var button = Assignment.noteRefusal(refused, "button-", id, text);
        if (button === null)
            return Field.setError(id, text);
        if (Number(button) === selected)
            Assignment.showErrors(refused[button]);
    }

    // The first refused button goes into the editor, unless the refusal is about steps alone.
    function onRefused(problems) {
        var first = problems.filter(function (p) { return p.id.indexOf("button-") === 0; })[0];
        if (first)
            selectButton(Number(/^button-([0-9]+)/.exec(first.id)[1]));
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
            if (result.ok)
                done.push(label);
            else
                failed.push(Panel.refused(label, result));
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
            if (assignment.kind === "Default" || Assignment.same(assignment, saved.buttons[b]))
                continue;
            var task = Assignment.taskOf(assignment);
            if (await one(BUTTON_WORDS[b], FIRST_BUTTON + b, task.TaskType, task.Task, task.TaskCount)) {
                file.buttons[FIRST_BUTTON + b] = Panel.clone(assignment);
                buttonsWritten = true;
            }
        }
        if (buttonsWritten && !(await DeviceFile.save(version, file)))
            note = "What the buttons do could not be kept in the program's files; after a restart they may show wrongly.";
        return { done: done, failed: failed, note: note };
    }

    // A macro made in the editor for one of the mouse's buttons: it becomes that button's edit.
    function useMacro(made) {
        if (made.version !== version || !panel.saved()) {
            Status.error("The macro was not used: Mouse " + made.version + " is no longer open.");
            return;
        }
        panel.draft().buttons[made.button] = Assignment.withMacro(panel.draft().buttons[made.button], made.macro);
        selectButton(made.button);
        Status.info("Macro ready for " + BUTTON_WORDS[made.button] + ". Press Apply to write it to the mouse.");
    }

    // ---- set-up ----

    function buildSteps() {
        var body = $("dpi-steps");
        for (var i = 0; i < STEP_COUNT; ++i) {
            var row = document.createElement("tr");
            row.className = "step";
            row.innerHTML =
                '<td><input type="radio" name="current-step" value="' + i + '" aria-label="In use"></td>' +
                '<td>' + (i + 1) + '</td>' +
                '<td><input id="step-' + i + '-x" class="number" type="text" inputmode="numeric" maxlength="6" data-axis="x"></td>' +
                '<td class="unit">dpi</td>' +
                '<td><input id="step-' + i + '-y" class="number" type="text" inputmode="numeric" maxlength="6" data-axis="y"></td>' +
                '<td class="unit">dpi</td>';
            body.appendChild(row);
            var errors = document.createElement("tr");
            errors.className = "step-errors";
            errors.innerHTML = '<td colspan="6"><span id="step-' + i + '-x-error" class="field-error" hidden></span>' +
                               '<span id="step-' + i + '-y-error" class="field-error" hidden></span></td>';
            body.appendChild(errors);
            (function (step, row) {
                row.querySelectorAll("[data-axis]").forEach(function (input) {
                    input.addEventListener("input", function () {
                        panel.draft().steps[step][input.dataset.axis] = input.value;
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

    function init() {
        buildSteps();
        panel = Panel.create({
            id: "mouse-panel",
            name: function () { return "the mouse"; },
            read: read,
            render: render,
            check: check,
            mark: mark,
            onRefused: onRefused,
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
            Status.error(Panel.refused("The mouse could not be reset", result) + ". The page shows what it holds now.");
        else if (!kept)
            Status.error("The mouse is back to its defaults, but the program's files could not be updated.");
        else
            Status.ok("Mouse " + version + " is back to what it came with.");
    }

    function open(deviceVersion) {
        version = deviceVersion;
        selected = 0;
        refused = {};
        file = DeviceFile.empty();
        $("mouse-title").textContent = "Mouse " + version;
        return panel.open();
    }

    return {
        init: init,
        open: open,
        useMacro: useMacro,
        hasUnsavedChanges: function () { return panel.hasUnsavedChanges(); },
        discard: function () { panel.discard(); },
        name: function () { return "Mouse " + version; },
        // The editor is lent to the other page meanwhile; it comes back when this page shows.
        shown: function () { if (panel.draft()) renderEditor(); }
    };
})();
