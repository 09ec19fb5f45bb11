// The key names the program knows: the key table of Resources/define.xml, read once per page and
// offered in groups for picking.
var KeyNames = (function () {
    "use strict";

    var TABLE = "Resources/define.xml";
    // Stand for the left keys; a key combination names them apart from its key.
    var MODIFIERS = ["Ctrl", "Shift", "Alt", "Win"];
    var GROUPS = [
        ["Letters", function (n) { return /^[A-Z]$/.test(n); }],
        ["Digits", function (n) { return /^[0-9]$/.test(n); }],
        ["Function keys", function (n) { return /^F[0-9]+$/.test(n); }],
        ["Keypad", function (n) { return n.indexOf("Num ") === 0 || n === "Num Lock"; }],
        ["Modifier keys", function (n) { return /^(Left|Right) /.test(n); }],
        ["Punctuation", function (n) { return n.length === 1; }],
        ["Other keys", function () { return true; }]
    ];

    var loading = null;

    // The promise gives the names in the table's order, or an empty list when it cannot be read.
    function load() {
        if (!loading) {
            loading = Bridge.call("ReadFileToStr", { FilePath: TABLE, Xpath: "/keyboard/key" }).then(function (result) {
                if (!result.ok)
                    return [];
                var doc = new DOMParser().parseFromString("<keys>" + result.answer + "</keys>", "application/xml");
                if (doc.querySelector("parsererror"))
                    return [];
                return Array.from(doc.documentElement.children).map(function (key) {
                    return key.getAttribute("value");
                }).filter(function (name) { return !!name; });
            });
        }
        return loading;
    }

    // Fills a select with the names in groups. options: exclude (names left out), first
    // ([value, label] put before the groups), extra ([[value, label], ...] as a group of its own,
    // with extraLabel).
    function fillSelect(select, names, options) {
        options = options || {};
        select.textContent = "";
        if (options.first) {
            var first = document.createElement("option");
            first.value = options.first[0];
            first.textContent = options.first[1];
            select.appendChild(first);
        }
        function group(label, pairs) {
            if (!pairs.length)
                return;
            var element = document.createElement("optgroup");
            element.label = label;
            pairs.forEach(function (pair) {
                var option = document.createElement("option");
                option.value = pair[0];
                option.textContent = pair[1];
                element.appendChild(option);
            });
            select.appendChild(element);
        }
        if (options.extra)
            group(options.extraLabel || "", options.extra);
        var left = names.filter(function (n) { return (options.exclude || []).indexOf(n) < 0; });
        GROUPS.forEach(function (g) {
            var members = left.filter(g[1]);
            left = left.filter(function (n) { return members.indexOf(n) < 0; });
            group(g[0], members.map(function (n) { return [n, n]; }));
        });
    }

    return { load: load, fillSelect: fillSelect, MODIFIERS: MODIFIERS };
})();
