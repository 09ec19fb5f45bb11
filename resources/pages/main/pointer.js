// The system's pointer settings. What the system holds is read from the mouse configuration
// report, whose figures are not always those that were set: the choices here are the ones that
// read back as what they set.
var PointerPanel = (function () {
    "use strict";

    // The report gives acceleration as a position in this list of acceleration values.
    var REPORTED_ACCELERATION = [0, 1, 4, 6, 3, 5, 8, 9, 2, 7];
    // Choice n sets the system's acceleration row n: (0, 0, 0), (7, 0, 1) and (4, 6, 2), whose
    // accelerations are 0, 1 and 2. Row 3, (4, 0, 1), reads back the same as row 1 and is not offered.
    var ACCELERATION_OF_CHOICE = [0, 1, 2];
    // The report gives the double-click time as a position in this list, or in milliseconds.
    var REPORTED_DOUBLE_CLICK = [970, 890, 780, 650, 550, 480, 410, 340, 270, 200];
    // Double-click step n sets 970 - 70 n milliseconds.
    var DOUBLE_CLICK_STEPS = 12;
    // The report gives the pointer speed halved: speeds 2, 4, ..., 20 read back as what they set.
    var SPEED_STEPS = 10;
    // Wheel lines of this value scroll a screen at a time.
    var PAGE_SCROLL = "4294967295";

    var panel = null;
    var $ = function (id) { return document.getElementById(id); };

    function doubleClickMs(step) {
        return 970 - 70 * step;
    }

    function doubleClickStep(ms) {
        return Math.min(DOUBLE_CLICK_STEPS - 1, Math.max(0, Math.round((970 - ms) / 70)));
    }

    function read() {
        return MouseReport.read("").then(function (values) {
            values = values || {};
            if (!Object.keys(values).length)
                Status.error("The pointer settings could not be read.");
            var reported = Number(values.defaultMouseDoubleClick);
            var acceleration = REPORTED_ACCELERATION[Number(values.defaultMouseAccel)];
            var choice = ACCELERATION_OF_CHOICE.indexOf(acceleration);
            return {
                speed: Math.min(SPEED_STEPS, Math.max(1, Number(values.defaultMouseSpeed) || 1)),
                acceleration: choice >= 0 ? String(choice) : "other",
                lines: values.defaultScrollLinesY === PAGE_SCROLL ? "" : String(values.defaultScrollLinesY || ""),
                chars: String(values.defaultScrollLinesX || ""),
                doubleClick: reported < REPORTED_DOUBLE_CLICK.length ? REPORTED_DOUBLE_CLICK[reported] : reported || 500
            };
        });
    }

    function onStep(ms) {
        return doubleClickMs(doubleClickStep(ms)) === ms;
    }

    // A double-click time set elsewhere between two steps has no place on the slider: the slider
    // then shows no position, and its label the time the system holds.
    function showValues(draft) {
        $("pointer-speed-value").textContent = draft.speed + " of " + SPEED_STEPS;
        var between = !onStep(draft.doubleClick);
        $("double-click").classList.toggle("off-step", between);
        $("double-click-value").textContent = draft.doubleClick + " ms" + (between ? ", set elsewhere" : "");
    }

    function render(draft) {
        $("pointer-speed").max = SPEED_STEPS;
        $("pointer-speed").value = draft.speed;
        $("pointer-accel").value = draft.acceleration;
        $("scroll-lines").value = draft.lines;
        $("scroll-lines").placeholder = draft.lines === "" ? "screen" : "";
        $("scroll-chars").value = draft.chars;
        $("double-click").max = DOUBLE_CLICK_STEPS - 1;
        $("double-click").value = doubleClickStep(draft.doubleClick);
        showValues(draft);
    }

    function check(draft) {
        var saved = panel.saved();
        var problems = [];
        [["lines", "scroll-lines", "the wheel lines"], ["chars", "scroll-chars", "the tilt characters"]].forEach(function (field) {
            if (draft[field[0]] === saved[field[0]])
                return;
            var checked = Field.wholeNumber(draft[field[0]], 1, 100);
            if (checked.error)
                problems.push({ id: field[1], label: field[2], text: checked.error });
        });
        return problems;
    }

    async function write(saved, draft) {
        var done = [], failed = [];
        async function one(label, command, num) {
            var result = await Bridge.call(command, { Num: num });
            if (result.ok)
                done.push(label);
            else
                failed.push(Panel.refused(label, result));
        }
        if (draft.speed !== saved.speed)
            await one("the pointer speed", "ModifyWindowAcceleratedSpeed", draft.speed * 2);
        if (draft.acceleration !== saved.acceleration)
            await one("the acceleration", "modifyMouseAcce", Number(draft.acceleration));
        if (draft.lines !== saved.lines)
            await one("the wheel lines", "ModifyMouseScrollLines", Number(draft.lines));
        if (draft.chars !== saved.chars)
            await one("the tilt characters", "modifyMouseScrollLinesX", Number(draft.chars));
        if (draft.doubleClick !== saved.doubleClick)
            await one("the double-click speed", "modifyMouseDoubleClick", doubleClickStep(draft.doubleClick));
        return { done: done, failed: failed, note: "" };
    }

    function init() {
        panel = Panel.create({
            id: "pointer-panel",
            name: function () { return "the system"; },
            read: read,
            render: render,
            check: check,
            write: write,
            onRefresh: showValues
        });
        $("pointer-speed").addEventListener("input", function () {
            panel.draft().speed = Number($("pointer-speed").value);
            panel.changed();
        });
        $("pointer-accel").addEventListener("change", function () {
            panel.draft().acceleration = $("pointer-accel").value;
            panel.changed();
        });
        [["scroll-lines", "lines"], ["scroll-chars", "chars"]].forEach(function (pair) {
            $(pair[0]).addEventListener("input", function () {
                panel.draft()[pair[1]] = $(pair[0]).value.trim();
                panel.changed();
            });
        });
        $("double-click").addEventListener("input", function () {
            panel.draft().doubleClick = doubleClickMs(Number($("double-click").value));
            panel.changed();
        });
    }

    return {
        init: init,
        open: function () { return panel.open(); },
        hasUnsavedChanges: function () { return panel.hasUnsavedChanges(); },
        discard: function () { panel.discard(); },
        name: function () { return "the pointer settings"; }
    };
})();
