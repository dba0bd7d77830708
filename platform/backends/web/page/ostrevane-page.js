// The page side of Ostrevane's web display (platform/backends/web).
//
// The viewport is the program's screen. The program asks for windows; each
// one is a frame drawn here (caption, close button, edges) around a canvas
// holding exactly the window's client pixels. What the user does with a
// frame is queued as an event for the program, which takes them one at a
// time and waits (yielding to the browser) when there are none.
//
// The page states its progress on <html data-state>: loading, running,
// ended (data-exit-code holds the program's exit code) or failed; the
// status line says the same in words, and screen readers announce it.
//
// The built page (make_page.py) holds this script, the style, the
// program's script and its module in base64, so that it shows the window
// after one response and works from a file: URL. The module is compiled
// while the program's run-time starts; the program converts its pixels for
// the canvas itself.
//
// Keys go to the program while a window's client area has the focus, which
// it takes when the window is shown or clicked. Shift+Tab is the one key the
// page keeps, as a desktop keeps Alt+F4: it moves the focus to the window's
// close button (Enter or Space there closes the window), and Tab comes back.
(function () {
  "use strict";

  // Frame geometry: ostrevane.css draws the same sizes.
  var BORDER = 4;
  var TITLE_HEIGHT = 28;
  var MIN_CLIENT_WIDTH = 80;
  var MIN_CLIENT_HEIGHT = 1;

  // Event types and show states, as platform/backends/backend.h numbers them.
  var CLOSE = 0, CHARS = 1, CONFIGURE = 2, EXPOSE = 3;
  var HIDDEN = 0, MINIMIZED = 2, MAXIMIZED = 3;

  var root = document.documentElement;
  var screenElement = document.getElementById("screen");
  var statusElement = document.getElementById("status");
  var windows = new Map();
  var events = [];
  var taken = 0;
  var wakeUp = null;
  var activeWindow = null;
  var topZ = 0;
  var presented = false;  // the program's first picture
  var focusDue = null;  // the window shown last, whose client area takes the focus

  function setState(state, message) {
    root.dataset.state = state;
    statusElement.textContent = message;
  }

  function queue(event) {
    // A drag sends many configures; only the latest position counts.
    var last = events[events.length - 1];
    if (event.type === CONFIGURE && last && last.type === CONFIGURE &&
        last.window === event.window) {
      events[events.length - 1] = event;
    } else {
      events.push(event);
    }
    if (wakeUp) {
      var resolve = wakeUp;
      wakeUp = null;
      resolve();
    }
  }

  function clientRectEvent(type, win) {
    return {type: type, window: win.id, left: win.x, top: win.y,
            right: win.x + win.width, bottom: win.y + win.height};
  }

  function layout(win) {
    win.frame.style.left = (win.x - BORDER) + "px";
    win.frame.style.top = (win.y - BORDER - TITLE_HEIGHT) + "px";
    win.client.style.width = win.width + "px";
    win.client.style.height = win.height + "px";
    // The canvas follows the client area at once, keeping what it shows at
    // the top left; the program paints what is new.
    resizeCanvas(win, win.width, win.height);
  }

  // False when the browser cannot make a canvas that large; the window then
  // shows what it can, as a display drops what it cannot show.
  function resizeCanvas(win, width, height) {
    var canvas = win.canvas;
    if (canvas.width === width && canvas.height === height) {
      return true;
    }
    try {
      var keepWidth = Math.min(width, canvas.width);
      var keepHeight = Math.min(height, canvas.height);
      var kept = keepWidth > 0 && keepHeight > 0
          ? win.context.getImageData(0, 0, keepWidth, keepHeight) : null;
      canvas.width = width;
      canvas.height = height;
      win.context.imageSmoothingEnabled = false;
      if (kept) {
        win.context.putImageData(kept, 0, 0);
      }
      return true;
    } catch (e) {
      return false;
    }
  }

  function activate(win) {
    if (activeWindow && activeWindow !== win) {
      activeWindow.frame.classList.remove("active");
    }
    activeWindow = win;
    if (win) {
      win.frame.classList.add("active");
      win.frame.style.zIndex = String(++topZ);
    }
  }

  // Drags with the pointer captured by `handle`; `move(dx, dy)` is told the
  // distance from where the drag started.
  function draggable(handle, win, start, move) {
    handle.addEventListener("pointerdown", function (e) {
      if (e.button !== 0 || e.target.closest(".close")) {
        return;
      }
      e.preventDefault();
      activate(win);
      handle.setPointerCapture(e.pointerId);
      var originX = e.clientX, originY = e.clientY;
      start();
      function onMove(m) {
        move(Math.round(m.clientX - originX), Math.round(m.clientY - originY));
      }
      function onEnd() {
        handle.removeEventListener("pointermove", onMove);
        handle.removeEventListener("pointerup", onEnd);
        handle.removeEventListener("pointercancel", onEnd);
      }
      handle.addEventListener("pointermove", onMove);
      handle.addEventListener("pointerup", onEnd);
      handle.addEventListener("pointercancel", onEnd);
    });
  }

  // Keeps enough of the title bar on the screen to drag the window back.
  function reachable(win, x, y) {
    var size = page.screenSize();
    var keep = 48;
    return [Math.min(Math.max(x, keep - win.width - BORDER), size[0] - keep),
            Math.min(Math.max(y, BORDER + TITLE_HEIGHT), size[1] - keep)];
  }

  function moveTo(win, x, y) {
    var place = reachable(win, x, y);
    x = place[0];
    y = place[1];
    if (x === win.x && y === win.y) {
      return;
    }
    win.x = x;
    win.y = y;
    layout(win);
    queue(clientRectEvent(CONFIGURE, win));
  }

  function resizeTo(win, width, height) {
    width = Math.max(MIN_CLIENT_WIDTH, width);
    height = Math.max(MIN_CLIENT_HEIGHT, height);
    if (width === win.width && height === win.height) {
      return;
    }
    win.width = width;
    win.height = height;
    layout(win);
    queue(clientRectEvent(CONFIGURE, win));
  }

  function buildFrame(win, title) {
    // To assistive technology the frame is a landmark named by the caption,
    // and the client area an image of the window with a line on the keys.
    var frame = document.createElement("div");
    frame.className = "frame";
    frame.hidden = true;
    frame.setAttribute("role", "region");

    var titlebar = document.createElement("div");
    titlebar.className = "titlebar";
    var caption = document.createElement("span");
    caption.className = "caption";
    caption.id = "ostrevane-caption-" + win.id;
    caption.textContent = title;
    if (title) {
      frame.setAttribute("aria-labelledby", caption.id);
    } else {
      frame.setAttribute("aria-label", "Untitled window");
    }
    var close = document.createElement("button");
    close.className = "close";
    close.type = "button";
    close.title = "Close";
    close.setAttribute("aria-label", "Close");
    close.textContent = "\u00d7";
    close.addEventListener("click", function () {
      queue({type: CLOSE, window: win.id});
    });
    titlebar.appendChild(caption);
    titlebar.appendChild(close);

    var client = document.createElement("div");
    client.className = "client";
    client.tabIndex = 0;
    client.setAttribute("role", "img");
    client.setAttribute("aria-label", "The " + (title || "program") + " window's contents");
    var help = document.createElement("p");
    help.className = "screen-reader-only";
    help.id = "ostrevane-keys-" + win.id;
    help.textContent = "Keys typed here go to the program. Shift+Tab moves to the window's " +
        "Close button, which Enter or Space activates; Tab comes back here.";
    client.setAttribute("aria-describedby", help.id);
    var canvas = document.createElement("canvas");
    canvas.width = 0;
    canvas.height = 0;
    client.appendChild(canvas);

    // Keys typed here go to the program, but Shift+Tab moves the focus to
    // the close button. From there Tab comes back: the client area is next
    // in the page's focus order.
    win.typed = function (e) {
      if (isTab(e) && e.shiftKey) {
        e.preventDefault();
        close.focus();
        return;
      }
      var chars = typedChars(e);
      if (chars && chars.length > 0) {
        // Tab and Backspace would otherwise move the focus or navigate.
        if (!e.ctrlKey && !e.altKey) {
          e.preventDefault();
        }
        queue({type: CHARS, window: win.id, chars: chars});
      }
    };
    client.addEventListener("keydown", win.typed);

    frame.appendChild(titlebar);
    frame.appendChild(client);
    frame.appendChild(help);
    // A click anywhere on the frame but its close button activates the
    // window and gives the client area the focus, as on a desktop.
    frame.addEventListener("pointerdown", function (e) {
      activate(win);
      if (!e.target.closest(".close")) {
        client.focus({preventScroll: true});
      }
    });
    frame.addEventListener("mousedown", function (e) {
      if (!e.target.closest(".close")) {
        e.preventDefault();  // the focus stays on the client area
      }
    });

    win.frame = frame;
    win.client = client;
    win.canvas = canvas;
    win.caption = caption;
    win.context = canvas.getContext("2d", {alpha: false, willReadFrequently: true});

    var startX, startY, startWidth, startHeight;
    function remember() {
      startX = win.x;
      startY = win.y;
      startWidth = win.width;
      startHeight = win.height;
    }
    draggable(titlebar, win, remember, function (dx, dy) {
      moveTo(win, startX + dx, startY + dy);
    });
    [["right", 1, 0], ["bottom", 0, 1], ["corner", 1, 1]].forEach(function (edge) {
      var handle = document.createElement("div");
      handle.className = "edge " + edge[0];
      frame.appendChild(handle);
      draggable(handle, win, remember, function (dx, dy) {
        resizeTo(win, startWidth + dx * edge[1], startHeight + dy * edge[2]);
      });
    });
    screenElement.appendChild(frame);
  }

  // A shown window's client area takes the focus as the next frame starts,
  // where the browser lays the page out anyway (focusing it at once would
  // lay it out before the program has even painted). A key that comes
  // before then is the window's all the same.
  function focusSoon(win) {
    if (focusDue === null) {
      requestAnimationFrame(function () {
        takeDueFocus();
      });
    }
    focusDue = win;
  }

  function takeDueFocus() {
    var win = focusDue;
    focusDue = null;
    var active = document.activeElement;
    if (win && windows.get(win.id) === win && !win.frame.hidden &&
        (!active || active === document.body)) {
      win.client.focus({preventScroll: true});
    }
    return win;
  }

  document.addEventListener("keydown", function (e) {
    if (focusDue !== null && (e.target === document.body || e.target === root)) {
      var win = takeDueFocus();
      if (document.activeElement === win.client) {
        win.typed(e);
      }
    }
  }, true);

  function isTab(e) {
    return e.key === "Tab" && !e.ctrlKey && !e.altKey && !e.metaKey;
  }

  // A key typed in a client area as the Unicode code points a key press
  // types on a desktop: printable characters, control combinations and the
  // usual control keys.
  var CONTROL_KEYS = {Enter: 13, Backspace: 8, Tab: 9, Escape: 27, Delete: 127};

  function typedChars(e) {
    if (e.metaKey || e.isComposing) {
      return null;
    }
    if (CONTROL_KEYS.hasOwnProperty(e.key)) {
      return [CONTROL_KEYS[e.key]];
    }
    if (e.key.length !== 1 && !(e.key.length === 2 && e.key.codePointAt(0) > 0xFFFF)) {
      return null;  // a named key that types nothing (F1, arrows, Shift...)
    }
    if (e.ctrlKey && !e.altKey) {
      var upper = e.key.toUpperCase().charCodeAt(0);
      if (upper >= 64 && upper <= 95) {
        return [upper - 64];
      }
      return null;
    }
    return [e.key.codePointAt(0)];
  }

  var page = {
    screenSize: function () {
      return [Math.max(1, window.innerWidth | 0), Math.max(1, window.innerHeight | 0)];
    },

    createWindow: function (id, className, title, left, top, right, bottom) {
      if (windows.has(id)) {
        return false;
      }
      var win = {id: id, className: className, x: left, y: top,
                 width: Math.max(1, right - left), height: Math.max(1, bottom - top),
                 shown: false, show: HIDDEN};
      buildFrame(win, title);
      windows.set(id, win);
      document.title = title || document.title;
      return true;
    },

    destroyWindow: function (id) {
      var win = windows.get(id);
      if (!win) {
        return;
      }
      windows.delete(id);
      win.frame.remove();
      if (activeWindow === win) {
        activeWindow = null;
      }
      events = events.filter(function (e) { return e.window !== id; });
    },

    showWindow: function (id, show) {
      var win = windows.get(id);
      if (!win) {
        return;
      }
      win.show = show;
      win.frame.hidden = show === HIDDEN;
      win.frame.classList.toggle("minimized", show === MINIMIZED);
      if (show === HIDDEN) {
        return;
      }
      var requested = {x: win.x, y: win.y, width: win.width, height: win.height};
      if (show === MAXIMIZED) {
        var size = page.screenSize();
        win.width = Math.max(MIN_CLIENT_WIDTH, size[0] - 2 * BORDER);
        win.height = Math.max(MIN_CLIENT_HEIGHT, size[1] - 2 * BORDER - TITLE_HEIGHT);
        win.x = BORDER;
        win.y = BORDER + TITLE_HEIGHT;
      } else if (!win.shown) {
        // As a desktop's window manager does: the frame goes where the
        // window asked to be, so the client area moves in by the frame.
        win.x += BORDER;
        win.y += BORDER + TITLE_HEIGHT;
      }
      layout(win);
      activate(win);
      if (show !== MINIMIZED) {
        focusSoon(win);
      }
      if (win.x !== requested.x || win.y !== requested.y || win.width !== requested.width ||
          win.height !== requested.height) {
        queue(clientRectEvent(CONFIGURE, win));
      }
      if (!win.shown && show !== MINIMIZED) {
        win.shown = true;
        queue({type: EXPOSE, window: id, left: 0, top: 0, right: win.width, bottom: win.height});
      }
    },

    // Shows the area [left, top, right, bottom) of a width x height window:
    // its part `ink` as R, G, B, A rows at heap[offset], black elsewhere.
    putPixels: function (id, width, height, area, ink, heap, offset) {
      var win = windows.get(id);
      if (!win) {
        return;
      }
      var w = ink[2] - ink[0], h = ink[3] - ink[1];
      try {
        if (!resizeCanvas(win, width, height)) {
          return;
        }
        if (w <= 0 || h <= 0 || ink[0] !== area[0] || ink[1] !== area[1] ||
            ink[2] !== area[2] || ink[3] !== area[3]) {
          win.context.fillStyle = "#000000";
          win.context.fillRect(area[0], area[1], area[2] - area[0], area[3] - area[1]);
        }
        if (w > 0 && h > 0) {
          win.context.putImageData(new ImageData(
              new Uint8ClampedArray(heap.buffer, offset, w * h * 4), w, h), ink[0], ink[1]);
        }
      } catch (e) {
        return;  // more pixels than the browser will hold at once
      }
      if (!presented) {
        presented = true;
        requestAnimationFrame(function () {
          setTimeout(keepForOffline, 0);
        });
      }
    },

    // How many events wait for the program, and how many it has taken (for
    // tests).
    eventCounts: function () {
      return {queued: events.length, taken: taken};
    },

    takeEvent: function () {
      if (events.length === 0) {
        return null;
      }
      taken += 1;
      return events.shift();
    },

    eventArrives: function () {
      if (events.length > 0) {
        return Promise.resolve();
      }
      return new Promise(function (resolve) { wakeUp = resolve; });
    }
  };

  function fail(message) {
    if (root.dataset.state === "failed") {
      return;  // the first reason is the one that counts
    }
    setState("failed", message);
    windows.forEach(function (win) { win.frame.remove(); });
    windows.clear();
  }

  // Once the first picture is on the screen, a page served over HTTP names
  // its web app manifest (which makes it installable: the browser then reads
  // the manifest and its icons) and a service worker keeps the page's files
  // for use offline (service-worker.js). The page works the same without
  // one, as from a file: URL. <html data-offline> tells how that went:
  // ready, unavailable or failed.
  function keepForOffline() {
    if (!/^https?:$/.test(location.protocol)) {
      root.dataset.offline = "unavailable";
      return;
    }
    var manifest = document.createElement("link");
    manifest.rel = "manifest";
    manifest.href = "ostrevane.webmanifest";
    document.head.appendChild(manifest);
    if (!("serviceWorker" in navigator)) {
      root.dataset.offline = "unavailable";
      return;
    }
    // Ready once the worker is active; one that fails to keep the files
    // (a file missing on the server, no room) is dropped.
    navigator.serviceWorker.register("service-worker.js").then(function (registration) {
      var worker = registration.installing || registration.waiting || registration.active;
      return new Promise(function (resolve, reject) {
        function settle() {
          if (worker.state === "activated") {
            resolve();
          } else if (worker.state === "redundant") {
            reject(new Error("the service worker was dropped"));
          }
        }
        worker.addEventListener("statechange", settle);
        settle();
      });
    }).then(function () {
      root.dataset.offline = "ready";
    }, function () {
      root.dataset.offline = "failed";
    });
  }

  // The program's module, which the page holds in base64.
  function moduleBytes() {
    var element = document.getElementById("ostrevane-module");
    var text = element ? element.textContent.trim() : "";
    if (typeof Uint8Array.fromBase64 === "function") {
      return Uint8Array.fromBase64(text);
    }
    var binary = atob(text);
    var bytes = new Uint8Array(binary.length);
    for (var i = 0; i < binary.length; ++i) {
      bytes[i] = binary.charCodeAt(i);
    }
    return bytes;
  }

  if (typeof WebAssembly !== "object" || typeof WebAssembly.compile !== "function" ||
      typeof createOstrevane !== "function") {
    fail("This browser cannot run WebAssembly, which Ostrevane needs.");
    return;
  }

  function cannotStart(reason) {
    fail("Ostrevane could not start: " + String(reason).split("\n")[0]);
  }

  setState("loading", "Loading Ostrevane\u2026");
  window.Module = {
    ostrevanePage: page,
    // The module is small: compiled at once, it starts the program without
    // waiting for other tasks. A browser that will not compile it on the
    // page's thread (RangeError) compiles it in the background.
    instantiateWasm: function (imports, receiveInstance) {
      var module;
      try {
        var bytes = moduleBytes();
        try {
          module = new WebAssembly.Module(bytes);
        } catch (e) {
          if (!(e instanceof RangeError)) {
            throw e;
          }
          WebAssembly.instantiate(bytes, imports).then(function (result) {
            receiveInstance(result.instance);
          }, cannotStart);
          return {};
        }
        receiveInstance(new WebAssembly.Instance(module, imports));
      } catch (e) {
        cannotStart(e);
      }
      return {};
    },
    onRuntimeInitialized: function () {
      setState("running", "");
    },
    ostrevaneExited: function (code) {
      root.dataset.exitCode = String(code);
      setState("ended", "Ostrevane has ended (exit code " + code + ").");
    },
    onAbort: function (what) {
      fail("Ostrevane stopped: " + String(what).split("\n")[0]);
    }
  };
  // The program's script (ostrevane.js, before this one); failures reach
  // the functions above.
  createOstrevane(window.Module).catch(function () {});
})();
