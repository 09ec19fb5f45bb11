// A mouse's own settings, written to the device: resolution steps, report rate, light and
// what each button does (a mouse function, a key combination, a media key or a macro that
// the device stores in its memory).
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

    var BUTTONS = ["Left button", "Right button", "Middle button", "Back", "Forward",
                   "Button 6", "Button 7", "Button 8"];
    var FUNCTIONS = [
        ["LeftClick", "Left click"], ["RightClick", "Right click"], ["MiddleClick", "Middle click"],
        ["Back", "Back"], ["Forward", "Forward"], ["ScrollUp", "Scroll up"], ["ScrollDown", "Scroll down"],
        ["ScrollLeft", "Scroll left"], ["ScrollRight", "Scroll right"], ["DpiCycling", "Next resolution step"],
        ["DpiUp", "Resolution up"], ["DpiDown", "Resolution down"], ["LockX", "Lock horizontal axis"],
        ["LockY", "Lock vertical axis"], ["ReportrateUp", "Report rate up"], ["ReportrateDown", "Report rate down"],
        ["SwitchLight", "Switch light"], ["ResetToDefaults", "Reset to defaults"]
    ];
    // Consumer-control usages, low byte first, as the device takes them.
    var MEDIA = [
        ["0x03,0x00,0xCD,0x00", "Play / pause"], ["0x03,0x00,0xB7,0x00", "Stop"],
        ["0x03,0x00,0xB6,0x00", "Previous track"], ["0x03,0x00,0xB5,0x00", "Next track"],
        ["0x03,0x00,0xE9,0x00", "Volume up"], ["0x03,0x00,0xEA,0x00", "Volume down"],
        ["0x03,0x00,0xE2,0x00", "Mute"], ["0x03,0x00,0x83,0x01", "Media player"]
    ];

    var version = "";
    var macro = "";            // the macro text the device stores, made in the editor
    var lightTail = [0, 0, 0]; // light bytes 6-8, kept as the device reported them
    var $ = function (id) { return document.getElementById(id); };

    function hexByte(n) {
        return "0x" + ("0" + (n & 255).toString(16)).slice(-2);
    }

    function fillSelect(select, pairs) {
        pairs.forEach(function (pair) {
            var option = document.createElement("option");
            option.value = pair[0];
            option.textContent = pair[1];
            select.appendChild(option);
        });
    }

    // One device property through "WriteDevice".
    function write(index, taskType, task, label, taskCount) {
        Bridge.send("WriteDevice", {
            Version: version,
            DriverVersion: "M1.0",
            Index: String(index),
            Task: task,
            TaskType: taskType,
            TaskCount: taskCount || ""
        }, { label: label });
    }

    function dpiValue(input) {
        var n = Math.round(Number(input.value) / DPI_UNIT) * DPI_UNIT;
        n = Math.min(DPI_MAX, Math.max(DPI_UNIT, n || DPI_UNIT));
        input.value = n;
        return n;
    }

    function buildSteps() {
        var body = $("dpi-steps");
        for (var i = 0; i < STEP_COUNT; ++i) {
            var row = document.createElement("tr");
            row.innerHTML =
                '<td>' + (i + 1) + '</td>' +
                '<td><input type="radio" name="current-step" value="' + i + '"></td>' +
                '<td><input type="number" min="50" max="' + DPI_MAX + '" step="50" value="800" data-axis="x"></td>' +
                '<td><input type="number" min="50" max="' + DPI_MAX + '" step="50" value="800" data-axis="y"></td>' +
                '<td><button data-op="read">Read</button> <button data-op="write">Write</button></td>';
            body.appendChild(row);
            (function (step, row) {
                var x = row.querySelector('[data-axis="x"]');
                var y = row.querySelector('[data-axis="y"]');
                row.querySelector('[data-op="read"]').addEventListener("click", function () { readStep(step); });
                row.querySelector('[data-op="write"]').addEventListener("click", function () {
                    write(FIRST_STEP + step, "DPI", "0|" + dpiValue(x) + "|" + dpiValue(y),
                          "Resolution step " + (step + 1));
                });
                row.querySelector('input[type="radio"]').addEventListener("change", function () {
                    write(CURRENT_STEP, "MultiMedia", hexByte(step), "Step in use");
                });
            })(i, row);
        }
    }

    function readStep(step) {
        Bridge.send("ReadDevicesDpiVal", { Version: version, DpiIndex: String(step) }, {
            label: "Resolution step " + (step + 1),
            onSuccess: function (answer) {
                var values;
                try {
                    values = JSON.parse(answer);
                } catch (e) {
                    return;
                }
                var row = $("dpi-steps").rows[step];
                row.querySelector('[data-axis="x"]').value = values.DpiXVal;
                row.querySelector('[data-axis="y"]').value = values.DpiYVal;
            }
        });
    }

    function showReport(values) {
        var rate = hexByte(Number(values.reporVal));
        if ($("report-rate").querySelector('option[value="' + rate + '"]'))
            $("report-rate").value = rate;
        var current = document.querySelector('input[name="current-step"][value="' + Number(values.curDpi) + '"]');
        if (current)
            current.checked = true;
        // effect, brightness, speed, colour (hexadecimal digits without padding), three more
        var light = (values.lightVal || "").split(",");
        if (light.length === 7) {
            $("light-effect").value = light[0];
            $("light-brightness").value = light[1];
            $("light-speed").value = light[2];
            if (/^[0-9a-f]{6}$/.test(light[3]))
                $("light-colour").value = "#" + light[3];
            lightTail = light.slice(4).map(Number);
        }
    }

    function readAll() {
        MouseReport.read(version, showReport);
        for (var i = 0; i < STEP_COUNT; ++i)
            readStep(i);
    }

    function writeLight() {
        var colour = $("light-colour").value; // #rrggbb
        var bytes = [Number($("light-effect").value), Number($("light-brightness").value), Number($("light-speed").value),
                     parseInt(colour.substr(1, 2), 16), parseInt(colour.substr(3, 2), 16), parseInt(colour.substr(5, 2), 16)]
            .concat(lightTail, [0]);
        write(LIGHT, "MultiMedia", bytes.map(hexByte).join(","), "Light");
    }

    function showAssignmentKind() {
        var kind = $("assign-kind").value;
        document.querySelectorAll("#mouse-panel [data-kind]").forEach(function (row) {
            row.hidden = row.dataset.kind !== kind;
        });
    }

    function assign() {
        var kind = $("assign-kind").value;
        var index = FIRST_BUTTON + Number($("button-index").value);
        var label = BUTTONS[Number($("button-index").value)];
        if (kind === "MouseFunction") {
            write(index, kind, $("assign-function").value, label);
        } else if (kind === "HotKey") {
            var keys = $("assign-hotkey").value.trim();
            if (!keys)
                return Bridge.setStatus("Enter the keys, for example Ctrl+C.", "error");
            write(index, kind, keys, label);
        } else if (kind === "MultiMedia") {
            write(index, kind, $("assign-media").value, label);
        } else {
            if (!macro)
                return Bridge.setStatus("No macro yet: make one with Edit.", "error");
            // The device reads the repeat count as a hexadecimal byte.
            var times = Math.min(255, Math.max(1, Math.round(Number($("assign-repeat").value)) || 1));
            $("assign-repeat").value = times;
            write(index, "Macro", macro, label + " (macro)", times.toString(16));
        }
    }

    function init(openMacroEditor) {
        buildSteps();
        fillSelect($("button-index"), BUTTONS.map(function (name, i) { return [String(i), name]; }));
        fillSelect($("assign-function"), FUNCTIONS);
        fillSelect($("assign-media"), MEDIA);
        $("assign-kind").addEventListener("change", showAssignmentKind);
        $("assign-apply").addEventListener("click", assign);
        $("macro-edit").addEventListener("click", openMacroEditor);
        $("light-apply").addEventListener("click", writeLight);
        $("report-rate").addEventListener("change", function () {
            write(REPORT_RATE, "MultiMedia", $("report-rate").value, "Report rate");
        });
        $("mouse-read").addEventListener("click", readAll);
        $("mouse-reset").addEventListener("click", function () {
            Bridge.send("RestDevice", { Version: version }, { onSuccess: readAll });
        });
    }

    function open(deviceVersion) {
        version = deviceVersion;
        $("mouse-title").textContent = "Mouse " + version;
        readAll();
    }

    // The macro text as a reader would say it: "Press A, wait 50 ms, release A".
    function describeMacro(text) {
        var words = { "按下": "press ", "弹起": "release ", "延迟": "wait " };
        var buttons = { "左键": "left button", "右键": "right button" };
        var steps = [];
        text.replace(/(按下|弹起|延迟)\(([^)]*)\)/g, function (all, verb, argument) {
            steps.push(words[verb] + (verb === "延迟" ? argument + " ms" : buttons[argument] || argument));
        });
        var summary = steps.join(", ");
        return summary.charAt(0).toUpperCase() + summary.substr(1);
    }

    // A macro made in the editor.
    function useMacro(text) {
        macro = text;
        $("assign-kind").value = "Macro";
        showAssignmentKind();
        $("macro-summary").textContent = describeMacro(text) || "No macro yet.";
    }

    return { init: init, open: open, useMacro: useMacro };
})();
