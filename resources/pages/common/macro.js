// The macro text a device stores: steps such as 按下(A), 弹起(A) and 延迟(50) written one after the
// other, and how a reader would say them.
var MacroText = (function () {
    "use strict";

    var DOWN = "按下", UP = "弹起", DELAY = "延迟";
    var LEFT = "左键", RIGHT = "右键";
    // A slot holds 200 bytes: three per step and three for the end.
    var MAX_STEPS = 65;
    var BUTTONS = {};
    BUTTONS[LEFT] = "left mouse button";
    BUTTONS[RIGHT] = "right mouse button";

    // [verb, argument] pairs; text that is no step is left out.
    function parse(text) {
        var steps = [];
        String(text || "").replace(/(按下|弹起|延迟)\(([^)]*)\)/g, function (all, verb, argument) {
            steps.push([verb, argument.trim()]);
        });
        return steps;
    }

    function join(steps) {
        return steps.map(function (step) { return step[0] + "(" + step[1] + ")"; }).join("");
    }

    function targetName(argument) {
        return BUTTONS[argument] || argument;
    }

    function describeStep(step) {
        if (step[0] === DELAY)
            return "Wait " + step[1] + " ms";
        return (step[0] === DOWN ? "Press " : "Release ") + targetName(step[1]);
    }

    // "Press A, release A, wait 50 ms"; empty for a text without steps.
    function summary(text) {
        var said = parse(text).map(function (step, i) {
            var words = describeStep(step);
            return i === 0 ? words : words.charAt(0).toLowerCase() + words.substr(1);
        });
        return said.join(", ");
    }

    return {
        DOWN: DOWN, UP: UP, DELAY: DELAY, LEFT: LEFT, RIGHT: RIGHT, MAX_STEPS: MAX_STEPS,
        parse: parse, join: join, describeStep: describeStep, summary: summary
    };
})();
