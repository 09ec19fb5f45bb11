// The start page: the device list (kept current as devices come and go), the settings panel
// of the chosen device or of the pointer, messages from the macro editor's popup view, and
// the window's own title area.
(function () {
    "use strict";

    var MACRO_EDITOR = new URL("../popup/index.html", location.href).href;
    var POINTER = "pointer";
    var $ = function (id) { return document.getElementById(id); };

    var selected = null; // a device's Version, POINTER, or null
    var opened = null;   // what the visible panel was opened for

    function kindOf(version) {
        if (/^M/i.test(version))
            return "mouse";
        if (/^K/i.test(version))
            return "keyboard";
        return null;
    }

    function showPanel(id) {
        document.querySelectorAll(".content > section").forEach(function (section) {
            section.hidden = section.id !== id;
        });
    }

    function markSelected() {
        document.querySelectorAll(".nav-list li").forEach(function (item) {
            item.classList.toggle("selected", item.dataset.key === selected);
        });
    }

    // Shows the panel of what is selected; a panel reads its settings when opened for
    // something new, not when it comes back after the device list was refreshed.
    function showSelected() {
        markSelected();
        var fresh = opened !== selected;
        opened = selected;
        if (selected === POINTER) {
            showPanel("pointer-panel");
            if (fresh)
                PointerPanel.open();
        } else if (kindOf(selected) === "mouse") {
            showPanel("mouse-panel");
            if (fresh)
                MousePanel.open(selected);
        } else if (kindOf(selected) === "keyboard") {
            showPanel("keyboard-panel");
            if (fresh)
                KeyboardPanel.open(selected);
        }
    }

    function select(key) {
        selected = key;
        showSelected();
    }

    function renderDevices(versions) {
        var list = $("device-list");
        list.textContent = "";
        versions.forEach(function (version) {
            var kind = kindOf(version);
            var item = document.createElement("li");
            item.dataset.key = version;
            item.tabIndex = 0;
            var icon = kind ? $("icon-" + kind).cloneNode() : null;
            if (icon) {
                icon.removeAttribute("id");
                icon.hidden = false;
                item.appendChild(icon);
            }
            var text = document.createElement("span");
            text.innerHTML = '<span></span><span class="version"></span>';
            text.firstChild.textContent = kind === "mouse" ? "Mouse" : kind === "keyboard" ? "Keyboard" : "Device";
            text.lastChild.textContent = version;
            item.appendChild(text);
            if (kind)
                item.addEventListener("click", function () { select(version); });
            list.appendChild(item);
        });
        $("no-devices").hidden = versions.length > 0;

        if (selected === POINTER)
            return markSelected();
        if (selected === null && versions.length > 0)
            selected = versions.filter(kindOf)[0] || null;
        if (selected !== null && versions.indexOf(selected) >= 0)
            showSelected();
        else
            showPanel("welcome-panel");
        markSelected();
    }

    // "GetDevicesList" gives no answer at all while no device is attached, so the list is
    // emptied first and filled when the answer comes.
    function refreshDevices() {
        renderDevices([]);
        Bridge.send("GetDevicesList", {}, {
            quiet: true,
            onSuccess: function (answer) {
                var versions;
                try {
                    versions = JSON.parse(answer);
                } catch (e) {
                    return Bridge.setStatus("Device list: unreadable answer " + answer, "error");
                }
                renderDevices(versions);
            }
        });
    }

    function openMacroEditor() {
        Bridge.send("OpenView", { Url: MACRO_EDITOR, width: 460, height: 440 },
                    { label: "Macro editor", noAnswer: true });
    }

    // Events first, so that nothing happening during start-up is missed.
    Bridge.on("devicesChanged", function (code) {
        Bridge.setStatus("Devices changed (event " + code + ")", "ok");
        refreshDevices();
    });
    Bridge.on("onBrowserMsg", function (message) {
        if (message === "pageError") {
            Bridge.setStatus("A page could not be loaded.", "error");
        } else if (message.indexOf("macro:") === 0) {
            MousePanel.useMacro(message.substr(6));
            Bridge.setStatus("Macro taken from the editor; assign it to a button.", "ok");
        } else {
            Bridge.setStatus("Message: " + message, "ok");
        }
    });

    TitleBar.attach($("titlebar"), {
        maximise: true,
        onClose: function () { Bridge.send("CloseX", {}, { label: "Close" }); }
    });
    MousePanel.init(openMacroEditor);
    KeyboardPanel.init();
    PointerPanel.init();
    $("pointer-entry").dataset.key = POINTER;
    $("pointer-entry").addEventListener("click", function () { select(POINTER); });

    refreshDevices();
})();
