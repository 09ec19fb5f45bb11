// What the pages wrote to a device that the device cannot report back (what each button does, the
// macro behind a macro button, the colour of each key), kept in a file of our own per device
// below the program folder: Resources/device-<Version>.xml.
//
//   <Device Version="M1.0">
//     <Button Index="61" Kind="HotKey" Task="Ctrl+C" Count=""/>
//     <Key Name="Esc" Colour="#ff0000"/>
//   </Device>
var DeviceFile = (function () {
    "use strict";

    function path(version) {
        return "Resources/device-" + version.replace(/[^A-Za-z0-9._-]/g, "_") + ".xml";
    }

    function empty() {
        return { buttons: {}, keys: {} };
    }

    // The promise gives {buttons: {index: {kind, task, count}}, keys: {name: "#rrggbb"}}; empty
    // when the device has no file yet (or one that is not its own).
    function load(version) {
        return Bridge.call("ReadFileToStr", { FilePath: path(version), Xpath: "/Device" }).then(function (result) {
            var data = empty();
            if (!result.ok)
                return data;
            var doc = new DOMParser().parseFromString(result.answer, "application/xml");
            var root = doc.documentElement;
            if (doc.querySelector("parsererror") || root.nodeName !== "Device" || root.getAttribute("Version") !== version)
                return data;
            root.querySelectorAll("Button").forEach(function (button) {
                data.buttons[button.getAttribute("Index")] = {
                    kind: button.getAttribute("Kind") || "",
                    task: button.getAttribute("Task") || "",
                    count: button.getAttribute("Count") || ""
                };
            });
            root.querySelectorAll("Key").forEach(function (key) {
                var colour = (key.getAttribute("Colour") || "").toLowerCase();
                if (/^#[0-9a-f]{6}$/.test(colour))
                    data.keys[key.getAttribute("Name")] = colour;
            });
            return data;
        });
    }

    // Replaces the device's file with data and writes it to disk. The promise gives true when the
    // file was written.
    function save(version, data) {
        var doc = document.implementation.createDocument(null, "Device", null);
        var root = doc.documentElement;
        root.setAttribute("Version", version);
        Object.keys(data.buttons).sort(function (a, b) { return a - b; }).forEach(function (index) {
            var button = doc.createElement("Button");
            button.setAttribute("Index", index);
            button.setAttribute("Kind", data.buttons[index].kind);
            button.setAttribute("Task", data.buttons[index].task);
            button.setAttribute("Count", data.buttons[index].count || "");
            root.appendChild(button);
        });
        Object.keys(data.keys).forEach(function (name) {
            var key = doc.createElement("Key");
            key.setAttribute("Name", name);
            key.setAttribute("Colour", data.keys[name]);
            root.appendChild(key);
        });
        var text = new XMLSerializer().serializeToString(doc);
        return Bridge.call("ModifyFileFromStr", { FilePath: path(version), ContentStr: text }).then(function (result) {
            return result.ok ? Bridge.call("savexml", {}) : result;
        }).then(function (result) {
            return result.ok;
        });
    }

    return { path: path, load: load, save: save, empty: empty };
})();
