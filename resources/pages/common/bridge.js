// Page commands and page events.
//
// Every command is a JSON text {"FuncName": ..., arguments...} sent through window.cefQuery;
// its answer arrives at onSuccess (a text) or onFailure (a code and a text). Some commands
// never answer. Events arrive at the function registered for their name with
// setMessageCallback, as one array of arguments.
var Bridge = (function () {
    "use strict";

    var statusLine = null;

    function setStatus(text, kind) {
        if (!statusLine)
            statusLine = document.getElementById("status");
        if (!statusLine)
            return;
        statusLine.textContent = text;
        statusLine.className = "status " + (kind || "");
    }

    // Sends a request text. options: onSuccess(answer), onFailure(code, message), quiet (no
    // status line), label (what the status line calls it), noAnswer (the command never answers).
    function sendText(text, options) {
        options = options || {};
        var label = options.label || text;
        if (typeof window.cefQuery !== "function") {
            setStatus(label + ": the program is not reachable from this page", "error");
            return;
        }
        if (!options.quiet)
            setStatus(options.noAnswer ? label + " sent" : label + " …", options.noAnswer ? "ok" : "busy");
        window.cefQuery({
            request: text,
            onSuccess: function (answer) {
                if (!options.quiet)
                    setStatus(label + ": " + (answer === "" ? "done" : answer), "ok");
                if (options.onSuccess)
                    options.onSuccess(answer);
            },
            onFailure: function (code, message) {
                setStatus(label + " failed (" + code + "): " + message, "error");
                if (options.onFailure)
                    options.onFailure(code, message);
            }
        });
    }

    // Sends the command name with its arguments (an object of texts and numbers).
    function send(name, args, options) {
        var request = { FuncName: name };
        Object.keys(args || {}).forEach(function (key) { request[key] = args[key]; });
        options = options || {};
        if (!options.label)
            options.label = name;
        sendText(JSON.stringify(request), options);
    }

    // Calls handler with the event's arguments. The first function registered for a name
    // stays for the life of the page.
    function on(eventName, handler) {
        if (typeof window.setMessageCallback !== "function")
            return false;
        window.setMessageCallback(eventName, function (args) {
            handler.apply(null, args || []);
        });
        return true;
    }

    return { send: send, sendText: sendText, on: on, setStatus: setStatus };
})();
