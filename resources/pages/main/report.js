// The text "GetWindowsMouseConfig" answers: "label:value" pairs joined by ",", where some values
// hold commas of their own, so only the known labels mark where a value begins.
var MouseReport = (function () {
    "use strict";

    var LABELS = ["reporVal", "curDpi", "DpiXVal", "DpiYVal", "lightVal", "jittersVal", "soundVal",
                  "defaultMouseAccel", "defaultScrollLinesX", "defaultMouseSpeed",
                  "defaultMouseDoubleClick", "defaultScrollLinesY"];

    // An object with the value text of every label found.
    function parse(text) {
        var values = {};
        LABELS.forEach(function (label, i) {
            var start = text.indexOf(label + ":");
            if (start < 0)
                return;
            start += label.length + 1;
            var end = text.length;
            if (i + 1 < LABELS.length) {
                var next = text.indexOf("," + LABELS[i + 1] + ":", start);
                if (next >= 0)
                    end = next;
            }
            values[label] = text.substring(start, end);
        });
        return values;
    }

    // The promise gives the values of the report for the device (the system's part alone for an
    // empty Version), or null when no report came.
    function read(version) {
        return Bridge.call("GetWindowsMouseConfig", { Version: version || "" }).then(function (result) {
            return result.ok ? parse(result.answer) : null;
        });
    }

    return { parse: parse, read: read };
})();
