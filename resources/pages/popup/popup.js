// The macro editor, opened by the start page as a popup view for one mouse button. Its address
// ends in "#" and the request as JSON text: {version, button, title (what the macro is for),
// macro}. It shows the
// button's macro as steps, lets the user change them, hands the new macro text back to the start
// page as the message "macro:" + {version, button, macro} and closes itself.
(function () {
    "use strict";

    var MAIN_PAGE = new URL("../main/index.html", location.href).href;
    var M = MacroText;

    var request = {};
    try {
        request = JSON.parse(decodeURIComponent(location.hash.substr(1))) || {};
    } catch (e) {
        request = {};
    }
    var steps = M.parse(request.macro || "");
    var original = M.join(steps);
    var $ = function (id) { return document.getElementById(id); };

    function render() {
        var list = $("steps");
        list.textContent = "";
        steps.forEach(function (step, i) {
            var item = document.createElement("li");
            var number = document.createElement("span");
            number.className = "number";
            number.textContent = (i + 1) + ".";
            item.appendChild(number);
            var words = document.createElement("span");
            words.className = "words";
            words.textContent = M.describeStep(step);
            item.appendChild(words);
            [["\u2191", "Move up", i > 0, function () { steps.splice(i - 1, 0, steps.splice(i, 1)[0]); }],
             ["\u2193", "Move down", i + 1 < steps.length, function () { steps.splice(i + 1, 0, steps.splice(i, 1)[0]); }],
             ["\u2715", "Remove", true, function () { steps.splice(i, 1); }]].forEach(function (action) {
                var button = document.createElement("button");
                button.textContent = action[0];
                button.title = action[1];
                button.disabled = !action[2];
                button.addEventListener("click", function () {
                    action[3]();
                    render();
                });
                item.appendChild(button);
            });
            list.appendChild(item);
        });
        $("no-steps").hidden = steps.length > 0;
        $("step-count").textContent = steps.length + " of " + M.MAX_STEPS + " steps";
        $("use").disabled = steps.length === 0 || !forButton;
        $("step-add").disabled = steps.length >= M.MAX_STEPS;
    }

    function showKindInputs() {
        var wait = $("step-kind").value === "wait";
        $("step-key").hidden = wait;
        $("step-wait").hidden = !wait;
        Field.setError("step-ms", "");
    }

    function add() {
        var kind = $("step-kind").value;
        var key = $("step-key").value;
        var room = M.MAX_STEPS - steps.length;
        if (kind === "wait") {
            var ms = Field.wholeNumber($("step-ms").value, 1, 65535);
            if (ms.error)
                return Field.setError("step-ms", ms.error);
            Field.setError("step-ms", "");
            steps.push([M.DELAY, String(ms.value)]);
        } else {
            if (!key)
                return Status.error("Choose a key or a mouse button first.");
            if (kind === "click" && room < 2)
                return Status.error("Only one more step fits: choose Press or Release.");
            if (kind !== "release")
                steps.push([M.DOWN, key]);
            if (kind !== "press")
                steps.push([M.UP, key]);
        }
        render();
        $("steps").lastChild.scrollIntoView({ block: "nearest" });
    }

    function close() {
        Bridge.post("CloseView", {});
    }

    async function cancel() {
        if (M.join(steps) !== original) {
            var drop = await Dialog.confirm({
                title: "Discard this macro?",
                text: "The changes made here are not used.",
                confirm: "Discard",
                cancel: "Keep editing",
                danger: true
            });
            if (!drop)
                return;
        }
        close();
    }

    async function use() {
        var made = { version: request.version, button: request.button, macro: M.join(steps) };
        var result = await Bridge.call("SendMsgToMainBrowser", { url: MAIN_PAGE, msg: "macro:" + JSON.stringify(made) });
        if (!result.ok)
            return Status.error("The macro could not be handed to the main window.");
        close();
    }

    // Only a macro made for a button can be used.
    var forButton = typeof request.version === "string" && typeof request.button === "number";
    $("for").textContent = forButton ? "For " + request.title
                                     : "Open the editor with Edit\u2026 beside a mouse button to use a macro there.";
    KeyNames.load().then(function (names) {
        KeyNames.fillSelect($("step-key"), names, {
            extra: [[M.LEFT, "Left mouse button"], [M.RIGHT, "Right mouse button"]],
            extraLabel: "Mouse buttons"
        });
        $("step-key").value = "A";
        if (!names.length)
            Status.error("The key names could not be read; only mouse buttons and waits can be added.");
    });
    $("step-kind").addEventListener("change", showKindInputs);
    $("step-ms").addEventListener("input", function () { Field.setError("step-ms", ""); });
    $("step-add").addEventListener("click", add);
    $("steps-clear").addEventListener("click", function () {
        steps = [];
        render();
    });
    $("cancel").addEventListener("click", cancel);
    $("use").addEventListener("click", use);
    TitleBar.attach($("titlebar"), { onClose: cancel });
    render();
})();
