// The page's own title area for a window without a frame: dragging it moves the window, its
// buttons minimise, maximise and restore, and close.
var TitleBar = (function () {
    "use strict";

    // Answered by the program itself; must be this exact text.
    var MINIMISE_REQUEST = '{"FuncName":"MinisizeWindow"}';

    function attach(bar, options) {
        options = options || {};
        var maximised = false;
        var drag = null;          // last pointer position on the screen while dragging
        var pendingMove = false;  // a move request is on its way
        var moveX = 0, moveY = 0; // movement not sent yet

        // "MoveWindow", one separator, then offset x, offset y, width and height. One request at
        // a time; movement made meanwhile goes with the next.
        function sendMove() {
            if (pendingMove || (moveX === 0 && moveY === 0))
                return;
            var text = "MoveWindow:" + [moveX, moveY, window.innerWidth, window.innerHeight].join(",");
            moveX = moveY = 0;
            pendingMove = true;
            Bridge.request(text).then(function (result) {
                pendingMove = false;
                if (result.ok)
                    sendMove();
            });
        }

        function toggleMaximised() {
            if (!options.maximise)
                return;
            maximised = !maximised;
            Bridge.post(maximised ? "maxsizeWindow" : "restoreWindow", {});
            var button = bar.querySelector('[data-action="maximise"]');
            if (button) {
                button.textContent = maximised ? "\u2750" : "\u25A1";
                button.title = maximised ? "Restore" : "Maximise";
            }
        }

        bar.addEventListener("mousedown", function (e) {
            if (e.button !== 0 || e.target.closest("button") || maximised)
                return;
            drag = { x: e.screenX, y: e.screenY };
            e.preventDefault();
        });
        document.addEventListener("mousemove", function (e) {
            if (!drag)
                return;
            moveX += e.screenX - drag.x;
            moveY += e.screenY - drag.y;
            drag = { x: e.screenX, y: e.screenY };
            sendMove();
        });
        document.addEventListener("mouseup", function () { drag = null; });
        bar.addEventListener("dblclick", function (e) {
            if (!e.target.closest("button"))
                toggleMaximised();
        });

        bar.querySelectorAll("button[data-action]").forEach(function (button) {
            button.addEventListener("click", function () {
                switch (button.dataset.action) {
                case "minimise":
                    Bridge.request(MINIMISE_REQUEST);
                    break;
                case "maximise":
                    toggleMaximised();
                    break;
                case "close":
                    if (options.onClose)
                        options.onClose();
                    break;
                }
            });
        });
    }

    return { attach: attach };
})();
