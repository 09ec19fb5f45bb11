// Page commands and page events.
//
// Every command is a JSON text {"FuncName": ..., arguments...} sent through window.cefQuery; its
// answer arrives at onSuccess (a text) or onFailure (a code and a text). Some commands never
// answer. Events arrive at the function registered for their name with setMessageCallback, as
// one array of arguments. The answers are the program's own texts: pages say in their own words
// what happened.
var Bridge = (function () {
    "use strict";

    function available() {
        return typeof window.cefQuery === "function";
    }

    function commandText(name, args) {
        var request = { FuncName: name };
        Object.keys(args || {}).forEach(function (key) { request[key] = args[key]; });
        return JSON.stringify(request);
    }

    // Sends a request text. The promise gives {ok: true, answer} or {ok: false, code, message};
    // it never fails.
    function request(text) {
        return new Promise(function (resolve) {
            if (!available())
                return resolve({ ok: false, code: -1, message: "" });
            window.cefQuery({
                request: text,
                onSuccess: function (answer) { resolve({ ok: true, answer: answer }); },
                onFailure: function (code, message) { resolve({ ok: false, code: code, message: message }); }
            });
        });
    }

    // A command with its arguments (an object of texts and numbers), answered as request() says.
    function call(name, args) {
        return request(commandText(name, args));
    }

    // A command that never answers.
    function post(name, args) {
        if (available())
            window.cefQuery({ request: commandText(name, args) });
    }

    // Calls handler with the event's arguments. The first function registered for a name stays for
    // the life of the page.
    function on(eventName, handler) {
        if (typeof window.setMessageCallback !== "function")
            return false;
        window.setMessageCallback(eventName, function (args) {
            handler.apply(null, args || []);
        });
        return true;
    }

    return { available: available, request: request, call: call, post: post, on: on };
})();

// The status line at the foot of a page: what just happened, in plain words. Messages that only
// report success fade after a while; errors stay until the next message.
var Status = (function () {
    "use strict";

    var FADE_MS = 8000;
    var timer = null;

    function line() {
        return document.getElementById("status");
    }

    function show(text, kind) {
        var element = line();
        if (!element)
            return;
        clearTimeout(timer);
        element.textContent = text;
        element.className = "status " + (kind || "");
        if (kind === "ok" || kind === "info")
            timer = setTimeout(clear, FADE_MS);
    }

    function current() {
        var element = line();
        return element ? element.textContent : "";
    }

    function clear() {
        clearTimeout(timer);
        var element = line();
        if (element) {
            element.textContent = "";
            element.className = "status";
        }
    }

    return {
        ok: function (text) { show(text, "ok"); },
        info: function (text) { show(text, "info"); },
        error: function (text) { show(text, "error"); },
        busy: function (text) { show(text, "busy"); },
        current: current,
        clear: clear
    };
})();
