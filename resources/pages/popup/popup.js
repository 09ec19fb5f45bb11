// The macro editor, opened by the start page as a popup view. It builds the macro text the
// mouse stores (steps such as 按下(A), 弹起(A) and 延迟(50)), hands it to the start page as a
// message and closes itself.
(function () {
    "use strict";

    var MAIN_PAGE = new URL("../main/index.html", location.href).href;
    var KEYS = [
        ["左键", "Left mouse button"], ["右键", "Right mouse button"]
    ].concat("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789".split("").map(function (k) { return [k, k]; }),
             ["Space", "Enter", "Tab", "Esc", "Backspace", "Delete", "Insert", "Home", "End", "Page Up",
              "Page Down", "Up", "Down", "Left", "Right", "Ctrl", "Shift", "Alt", "Win",
              "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12"]
                 .map(function (k) { return [k, k]; }));
    var DOWN = "按下", UP = "弹起", DELAY = "延迟";

    var steps = []; // [verb, argument]
    var $ = function (id) { return document.getElementById(id); };

    function keyLabel(name) {
        for (var i = 0; i < KEYS.length; ++i) {
            if (KEYS[i][0] === name)
                return KEYS[i][1];
        }
        return name;
    }

    function describe(step) {
        if (step[0] === DELAY)
            return "Wait " + step[1] + " ms";
        return (step[0] === DOWN ? "Press " : "Release ") + keyLabel(step[1]);
    }

    function render() {
        var list = $("steps");
        list.textContent = "";
        steps.forEach(function (step, i) {
            var item = document.createElement("li");
            item.textContent = describe(step);
            var remove = document.createElement("button");
            remove.textContent = "\u2715";
            remove.title = "Remove";
            remove.addEventListener("click", function () {
                steps.splice(i, 1);
                render();
            });
            item.appendChild(remove);
            list.appendChild(item);
        });
        $("no-steps").hidden = steps.length > 0;
        $("use").disabled = steps.length === 0;
    }

    function macroText() {
        return steps.map(function (step) { return step[0] + "(" + step[1] + ")"; }).join("");
    }

    function showKindInputs() {
        var wait = $("step-kind").value === "wait";
        $("step-key").hidden = wait;
        $("step-ms").hidden = !wait;
        $("step-ms-unit").hidden = !wait;
    }

    function add() {
        var kind = $("step-kind").value;
        var key = $("step-key").value;
        if (kind === "wait") {
            var ms = Math.round(Number($("step-ms").value));
            if (!(ms >= 1 && ms <= 65535))
                return Bridge.setStatus("A wait lasts 1 to 65535 ms.", "error");
            steps.push([DELAY, String(ms)]);
        } else {
            if (kind !== "release")
                steps.push([DOWN, key]);
            if (kind !== "press")
                steps.push([UP, key]);
        }
        render();
    }

    function close() {
        Bridge.send("CloseView", {}, { noAnswer: true, label: "Close" });
    }

    function use() {
        Bridge.send("SendMsgToMainBrowser", { url: MAIN_PAGE, msg: "macro:" + macroText() }, {
            label: "Macro",
            onSuccess: close
        });
    }

    KEYS.forEach(function (pair) {
        var option = document.createElement("option");
        option.value = pair[0];
        option.textContent = pair[1];
        $("step-key").appendChild(option);
    });
    $("step-key").value = "A";
    $("step-kind").addEventListener("change", showKindInputs);
    $("step-add").addEventListener("click", add);
    $("steps-clear").addEventListener("click", function () {
        steps = [];
        render();
    });
    $("cancel").addEventListener("click", close);
    $("use").addEventListener("click", use);
    TitleBar.attach($("titlebar"), { onClose: close });
    render();
})();
