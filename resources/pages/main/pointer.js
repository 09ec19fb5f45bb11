// The system's pointer settings. Each control applies its value as soon as it changes.
var PointerPanel = (function () {
    "use strict";

    // The report gives acceleration as a position in this list of acceleration values.
    var REPORTED_ACCELERATION = [0, 1, 4, 6, 3, 5, 8, 9, 2, 7];
    // Acceleration set by choice 0-3 (off, low, medium, high).
    var ACCELERATION_OF_CHOICE = [0, 1, 2, 1];
    // The report gives the double-click time as a position in this list, or in milliseconds.
    var REPORTED_DOUBLE_CLICK = [970, 890, 780, 650, 550, 480, 410, 340, 270, 200];

    var $ = function (id) { return document.getElementById(id); };

    function applyOnChange(id, command, label) {
        $(id).addEventListener("change", function () {
            Bridge.send(command, { Num: Number($(id).value) }, { label: label });
        });
    }

    function show(values) {
        var speed = Number(values.defaultMouseSpeed) * 2; // reported halved
        if (speed) {
            $("pointer-speed").value = speed;
            $("pointer-speed-value").textContent = speed;
        }
        var acceleration = REPORTED_ACCELERATION[Number(values.defaultMouseAccel)];
        var choice = ACCELERATION_OF_CHOICE.indexOf(acceleration);
        if (choice >= 0)
            $("pointer-accel").value = choice;
        $("scroll-lines").value = values.defaultScrollLinesY;
        $("scroll-chars").value = values.defaultScrollLinesX;
        var reported = Number(values.defaultMouseDoubleClick);
        var ms = reported < REPORTED_DOUBLE_CLICK.length ? REPORTED_DOUBLE_CLICK[reported] : reported;
        $("double-click").value = Math.min(11, Math.max(0, Math.round((970 - ms) / 70)));
    }

    function init() {
        $("pointer-speed").addEventListener("input", function () {
            $("pointer-speed-value").textContent = $("pointer-speed").value;
        });
        applyOnChange("pointer-speed", "ModifyWindowAcceleratedSpeed", "Pointer speed");
        applyOnChange("pointer-accel", "modifyMouseAcce", "Acceleration");
        applyOnChange("scroll-lines", "ModifyMouseScrollLines", "Wheel lines");
        applyOnChange("scroll-chars", "modifyMouseScrollLinesX", "Tilt characters");
        applyOnChange("double-click", "modifyMouseDoubleClick", "Double-click speed");
        $("pointer-read").addEventListener("click", function () { MouseReport.read("", show); });
    }

    function open() {
        MouseReport.read("", show);
    }

    return { init: init, open: open };
})();
