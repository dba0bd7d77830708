// Before the program starts: its name, the argv[0] it prints in its
// one-line failures, is that of its script without ".js" (ostrevane.js:
// "ostrevane"), as a desktop program's is that of its file. A page that
// holds the script itself says the name in <html data-program>. A page that
// names the program itself (Module.thisProgram) keeps its name.
if (!Module["thisProgram"] && typeof document === "object") {
  var script = document.currentScript && document.currentScript.src;
  var name = script ? script.split(/[?#]/)[0].split("/").pop().replace(/\.js$/, "")
                    : document.documentElement.dataset.program;
  if (name) {
    Module["thisProgram"] = name;
  }
}
