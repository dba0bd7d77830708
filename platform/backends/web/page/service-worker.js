// The page's service worker: keeps the page's files for use offline.
//
// Installing, it fetches every file of the page (past the browser's HTTP
// cache) into a cache named after this build; once active, it deletes the
// other builds' caches and answers requests for those files from its own.
// Nothing else is cached, and any other request goes to the network as it
// would without a worker. The build (make_page.py precache) fills in the
// name and the files.
"use strict";

var CACHE = "ostrevane-@BUILD@";
var FILES = @FILES@;

// A worker that cannot keep every file leaves no cache behind, and is
// dropped.
self.addEventListener("install", function (event) {
  event.waitUntil(caches.open(CACHE).then(function (cache) {
    return cache.addAll(FILES.map(function (file) {
      return new Request(file, {cache: "reload"});
    }));
  }).then(function () {
    return self.skipWaiting();
  }, function (error) {
    return caches.delete(CACHE).then(function () {
      throw error;
    });
  }));
});

self.addEventListener("activate", function (event) {
  event.waitUntil(caches.keys().then(function (names) {
    return Promise.all(names.filter(function (name) {
      return name.indexOf("ostrevane-") === 0 && name !== CACHE;
    }).map(function (name) {
      return caches.delete(name);
    }));
  }).then(function () {
    return self.clients.claim();
  }));
});

self.addEventListener("fetch", function (event) {
  var url = new URL(event.request.url);
  var scope = new URL(self.registration.scope);
  if (event.request.method !== "GET" || url.origin !== scope.origin ||
      url.pathname.indexOf(scope.pathname) !== 0) {
    return;
  }
  // The folder itself is the page.
  var name = url.pathname.slice(scope.pathname.length) || "index.html";
  if (FILES.indexOf(name) < 0) {
    return;
  }
  // Only looked up: opening the cache would make it again, empty, when a
  // newer build's worker, or the user, has just deleted it.
  event.respondWith(caches.match(name, {cacheName: CACHE}).then(function (response) {
    return response || fetch(event.request);
  }));
});
