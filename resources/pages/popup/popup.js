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
        $("use").disabled = steps.length === 0 || !forButton || !!recording;
        $("step-add").disabled = steps.length >= M.MAX_STEPS || !!recording;
        ["steps-clear", "step-kind", "step-key", "step-ms", "cancel"].forEach(function (id) {
            $(id).disabled = !!recording;
        });
        list.querySelectorAll("button").forEach(function (button) { button.disabled = button.disabled || !!recording; });
        $("record").disabled = !recording && steps.length >= M.MAX_STEPS;
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

    // ---- recording ----

    // KeyboardEvent.code to the key table's names.
    var CODES = {
        Escape: "Esc", Backquote: "`", Minus: "-", Equal: "=", BracketLeft: "[", BracketRight: "]",
        Backslash: "\\", Semicolon: ";", Quote: "'", Comma: ",", Period: ".", Slash: "/",
        ShiftLeft: "Left Shift", ShiftRight: "Right Shift", ControlLeft: "Left Ctrl", ControlRight: "Right Ctrl",
        AltLeft: "Left Alt", AltRight: "Right Alt", MetaLeft: "Left Windows", MetaRight: "Right Windows",
        OSLeft: "Left Windows", OSRight: "Right Windows", ContextMenu: "Application", PrintScreen: "Print Screen",
        ScrollLock: "Scroll Lock", PageUp: "Page Up", PageDown: "Page Down", ArrowUp: "Up", ArrowDown: "Down",
        ArrowLeft: "Left", ArrowRight: "Right", NumLock: "Num Lock", NumpadDivide: "Num /",
        NumpadMultiply: "Num *", NumpadSubtract: "Num -", NumpadAdd: "Num +", NumpadEnter: "Num Enter",
        NumpadDecimal: "Num ."
    };
    var MAX_WAIT = 65535;   // a wait step holds 16 bits of milliseconds
    var START = "\u5f00\u59cb", STOP = "\u505c\u6b62";

    var keyNames = [];
    var recording = null;   // {base, events: [{time, step}], held: {name: true}, last, trackedFrom, stopAt, notes}

    // Without a key position (code) the key's meaning names it.
    var KEYS = { Shift: "Left Shift", Control: "Left Ctrl", Alt: "Left Alt", Meta: "Left Windows", " ": "Space",
                 Escape: "Esc", ArrowUp: "Up", ArrowDown: "Down", ArrowLeft: "Left", ArrowRight: "Right" };

    function nameOf(e) {
        if (e.code)
            return nameOfCode(e.code);
        if (/^[a-z0-9]$/i.test(e.key))
            return e.key.toUpperCase();
        return KEYS[e.key] || e.key;
    }

    function nameOfCode(code) {
        var m;
        if ((m = /^Key([A-Z])$/.exec(code)) || (m = /^Digit([0-9])$/.exec(code)))
            return m[1];
        if ((m = /^Numpad([0-9])$/.exec(code)))
            return "Num " + m[1];
        return CODES[code] || code;
    }

    // Milliseconds since local midnight, as the mouse-track recorder stamps its clicks.
    function sinceMidnight(epochMs) {
        var midnight = new Date(epochMs);
        midnight.setHours(0, 0, 0, 0);
        return epochMs - midnight.getTime();
    }

    // Steps of the events in time order, with the measured waits between them in whole
    // milliseconds; notes gathers what had to change to fit.
    function stepsOf(events, notes) {
        var out = [];
        var last = null;
        events.slice().sort(function (a, b) { return a.time - b.time; }).forEach(function (event) {
            if (last !== null) {
                var wait = Math.round(event.time - last);
                if (wait > MAX_WAIT) {
                    notes.push("a wait of " + (wait / 1000).toFixed(1) + " s was shortened to " + MAX_WAIT +
                               " ms, the longest a step holds");
                    wait = MAX_WAIT;
                }
                if (wait > 0)
                    out.push([M.DELAY, String(wait)]);
            }
            out = out.concat(event.steps);
            last = event.time;
        });
        return out;
    }

    // Steps the recording would add with every held key released.
    function recordedSteps(extra) {
        var notes = [];
        return stepsOf(recording.events.concat(extra || []), notes).length;
    }

    function refuseRecording(text) {
        Field.setError("record", text);
    }

    function onRecordKey(e) {
        if (!recording)
            return;
        e.preventDefault();
        e.stopPropagation();
        if (e.repeat)
            return;
        var name = nameOf(e);
        var time = performance.timeOrigin + e.timeStamp;
        if (e.type === "keyup") {
            if (!recording.held[name])
                return;
            delete recording.held[name];
            recording.events.push({ time: time, steps: [[M.UP, name]] });
        } else {
            if (recording.held[name])
                return;
            if (keyNames.indexOf(name) < 0)
                return refuseRecording("The key " + (e.key && e.key.length === 1 ? e.key : e.code) +
                                       " was left out: the device has no code for it.");
            // Room for the press, and for the release of every key held then, each after a wait.
            var held = Object.keys(recording.held).length + 1;
            var event = { time: time, steps: [[M.DOWN, name]] };
            if (recording.base.length + recordedSteps([event]) + 2 * held > M.MAX_STEPS)
                return refuseRecording("The key " + name + " was left out: a macro holds " + M.MAX_STEPS +
                                       " steps, and the releases of the keys held need the rest.");
            recording.held[name] = true;
            recording.events.push(event);
        }
        steps = recording.base.concat(stepsOf(recording.events, []));
        render();
    }

    async function startRecording() {
        Field.setError("record", "");
        // The recorder's text only grows: what it holds now is not this recording's.
        var before = await Bridge.call("mouseTracks", { status: STOP });
        var started = await Bridge.call("mouseTracks", { status: START });
        recording = { base: steps.slice(), events: [], held: {}, stopAt: Infinity,
                      trackedFrom: before.ok ? before.answer.length : -1, tracking: started.ok && before.ok };
        document.body.classList.add("recording");
        $("record").textContent = "\u25A0 Stop";
        $("record").classList.add("on");
        $("record-state").textContent = "Recording: press keys here; left clicks anywhere are added when you stop.";
        $("record").focus();
        render();
    }

    // Ends the recording; keep false drops what it recorded.
    async function stopRecording(keep) {
        var done = recording;
        recording = null;
        document.body.classList.remove("recording");
        $("record").textContent = "\u25CF Record";
        $("record").classList.remove("on");
        $("record-state").textContent = "Record types the keys you press here, with the waits between them, " +
                                        "and left clicks anywhere; the device plays a click where the pointer is.";
        var tracked = await Bridge.call("mouseTracks", { status: STOP });
        if (!keep) {
            steps = done.base;
            return render();
        }
        var notes = [];
        var now = performance.timeOrigin + performance.now();
        // Keys still held go up at the end, so that the device does not leave them down.
        var stillHeld = Object.keys(done.held);
        if (stillHeld.length) {
            done.events.push({ time: now, steps: stillHeld.map(function (name) { return [M.UP, name]; }) });
            notes.push("the keys still held (" + stillHeld.join(", ") + ") are released at the end");
        }
        // Left clicks, but not the one on Stop. Their times count from local midnight.
        var clicks = [];
        if (done.tracking && tracked.ok) {
            var offset = now - sinceMidnight(now);
            tracked.answer.substr(done.trackedFrom).replace(/x:-?[0-9]+,y:-?[0-9]+Time:([0-9]+);/g, function (all, time) {
                var at = offset + Number(time);
                if (at < done.stopAt)
                    clicks.push({ time: at, steps: [[M.DOWN, M.LEFT], [M.UP, M.LEFT]] });
            });
        }
        var left = 0;
        while (clicks.length && done.base.length + stepsOf(done.events.concat(clicks), []).length > M.MAX_STEPS) {
            clicks.pop();
            ++left;
        }
        if (left)
            notes.push(left + (left === 1 ? " click was" : " clicks were") + " left out: a macro holds " +
                       M.MAX_STEPS + " steps");
        steps = done.base.concat(stepsOf(done.events.concat(clicks), notes));
        render();
        if (notes.length)
            Field.setError("record", "Recorded, but " + notes.join("; ") + ".");
        Status.info("Recorded " + (steps.length - done.base.length) + " steps. Change them as any other, then use the macro.");
    }

    function close() {
        if (recording)
            stopRecording(false);
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
        keyNames = names;
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
    // The press on Stop is the last thing before it: clicks from then on are not recorded.
    $("record").addEventListener("mousedown", function (e) {
        if (recording)
            recording.stopAt = performance.timeOrigin + e.timeStamp;
    });
    $("record").addEventListener("click", function () {
        if (recording)
            stopRecording(true);
        else
            startRecording();
    });
    document.addEventListener("keydown", onRecordKey, true);
    document.addEventListener("keyup", onRecordKey, true);
    TitleBar.attach($("titlebar"), { onClose: cancel });
    render();
})();
