// namedvalues_bench.js: NamedValues against Scripting.Dictionary as a script client sees them.
//
// Times, for N members (names of 8 to 24 characters in random order, integer values): adding
// the names; Item by name in another random order; the value by name in this language's idiom,
// nv.Item(k).Value against d.Item(k) (two calls against one); Item by position (NamedValues only);
// enumeration with Enumerator; DumpToString and LoadFromString (NamedValues only); Clone
// (NamedValues only). The Dictionary uses TextCompare, so both compare names without regard to
// case. Each figure is the median over the repetitions of ns per member; the clock is Date,
// so every sample repeats the pass until it has run for at least 100 ms. Above dictMax members
// (default 65536) the Dictionary is left out: its look-ups grow too fast to finish in bounded time;
// those sizes take bigReps repetitions (default: as reps), since one pass takes seconds.
//
// Usage: cscript //nologo namedvalues_bench.js [smoke] [reps=R] [sizes=16,256,...] [dictMax=N] [bigReps=R]
// Prints one Markdown table; a run that completes ends with the line "done".

var options = { sizes: [16, 256, 4096, 65536], reps: 5, minMs: 100, dictMax: 65536, bigReps: 0 };
for (var a = 0; a < WScript.Arguments.length; a++) {
  var arg = WScript.Arguments(a);
  if (arg == "smoke") {
    options.sizes = [16];
    options.reps = 1;
    options.minMs = 1;
  } else if (arg.indexOf("reps=") == 0) {
    options.reps = Math.max(1, parseInt(arg.substring(5), 10));
  } else if (arg.indexOf("bigReps=") == 0) {
    options.bigReps = Math.max(1, parseInt(arg.substring(8), 10));
  } else if (arg.indexOf("dictMax=") == 0) {
    options.dictMax = parseInt(arg.substring(8), 10);
  } else if (arg.indexOf("sizes=") == 0) {
    options.sizes = [];
    var parts = arg.substring(6).split(",");
    for (var p = 0; p < parts.length; p++) options.sizes.push(parseInt(parts[p], 10));
  }
}

// The minimal standard generator (multiplier 16807, modulus 2^31 - 1), so every run uses the same
// names; its products stay exact in a double.
var seed = 20240611;
function nextRandom(limit) {
  seed = (seed * 16807) % 2147483647;
  return Math.floor((seed / 2147483647) * limit);
}

var kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";

function makeData(n) {
  var names = [];
  var seen = {};
  while (names.length < n) {
    var length = 8 + nextRandom(17);
    var name = "";
    for (var c = 0; c < length; c++) name += kAlphabet.charAt(nextRandom(kAlphabet.length));
    var key = "k" + name.toLowerCase();
    if (seen[key]) continue;
    seen[key] = true;
    names.push(name);
  }
  var order = [];
  for (var i = 0; i < n; i++) order.push(i);
  for (var j = n - 1; j > 0; j--) {
    var k = nextRandom(j + 1);
    var t = order[j];
    order[j] = order[k];
    order[k] = t;
  }
  var entries = [];
  for (var e = 0; e < n; e++) entries.push(names[e] + "=" + e);
  return { names: names, order: order, text: entries.join(";") };
}

function newNamedValues() {
  return new ActiveXObject("QXSDKCommon.NamedValues");
}

function newDictionary() {
  var d = new ActiveXObject("Scripting.Dictionary");
  d.CompareMode = 1;
  return d;
}

// Runs pass() (one pass over n members, preceded by prepare() when given) until minMs have
// passed; gives ns per member. Only the passes are timed.
function sample(n, prepare, pass) {
  var elapsed = 0;
  var passes = 0;
  while (elapsed < options.minMs || passes == 0) {
    var state = prepare ? prepare() : null;
    var start = new Date().getTime();
    pass(state);
    elapsed += new Date().getTime() - start;
    passes++;
  }
  return (elapsed * 1e6) / (passes * n);
}

function median(n, prepare, pass) {
  var figures = [];
  var reps = n > options.dictMax && options.bigReps > 0 ? options.bigReps : options.reps;
  for (var r = 0; r < reps; r++) figures.push(sample(n, prepare, pass));
  figures.sort(function (x, y) { return x - y; });
  var mid = Math.floor(figures.length / 2);
  return figures.length % 2 ? figures[mid] : (figures[mid - 1] + figures[mid]) / 2;
}

var kWorkloads = ["add", "Item by name", "value by name", "Item by position", "enumerate", "DumpToString", "LoadFromString", "Clone"];

function runSize(n) {
  var data = makeData(n);
  var names = data.names;
  var order = data.order;
  var i;
  function fill(bag) {
    for (var f = 0; f < n; f++) bag.Add(names[f], f);
    return bag;
  }
  var nv = fill(newNamedValues());
  var withDictionary = n <= options.dictMax;
  var dictionary = withDictionary ? fill(newDictionary()) : null;
  // The Dictionary's figure, or NaN where it is left out.
  function onDictionary(prepare, pass) {
    return withDictionary ? median(n, prepare, pass) : NaN;
  }
  var loaded = newNamedValues();
  loaded.LoadFromString(data.text);
  var sink = 0;
  var r = {};

  r["add"] = [
    median(n, newNamedValues, function (bag) { for (var x = 0; x < n; x++) bag.Add(names[x], x); }),
    onDictionary(newDictionary, function (bag) { for (var x = 0; x < n; x++) bag.Add(names[x], x); })
  ];
  r["Item by name"] = [
    median(n, null, function () { for (var x = 0; x < n; x++) sink = nv.Item(names[order[x]]); }),
    onDictionary(null, function () { for (var x = 0; x < n; x++) sink = dictionary.Item(names[order[x]]); })
  ];
  r["value by name"] = [
    median(n, null, function () { for (var x = 0; x < n; x++) sink = nv.Item(names[order[x]]).Value; }),
    onDictionary(null, function () { for (var x = 0; x < n; x++) sink = dictionary.Item(names[order[x]]); })
  ];
  r["Item by position"] = [
    median(n, null, function () { for (var x = 1; x <= n; x++) sink = nv.Item(x); }),
    NaN
  ];
  function enumerate(bag) {
    return function () {
      for (var e = new Enumerator(bag); !e.atEnd(); e.moveNext()) sink = e.item();
    };
  }
  r["enumerate"] = [median(n, null, enumerate(nv)), onDictionary(null, enumerate(dictionary))];
  r["DumpToString"] = [median(n, null, function () { sink = loaded.DumpToString(); }), NaN];
  r["LoadFromString"] = [median(n, newNamedValues, function (bag) { bag.LoadFromString(data.text); }), NaN];
  r["Clone"] = [median(n, null, function () { sink = nv.Clone(); }), NaN];
  return r;
}

function figure(x, digits) {
  return isNaN(x) ? "-" : x.toFixed(digits);
}

var results = [];
for (var s = 0; s < options.sizes.length; s++) results.push(runSize(options.sizes[s]));

var lines = [];
lines.push("| Workload | N | NamedValues | Dictionary | NamedValues/Dict | NamedValues x16N | Dict x16N |");
lines.push("|---|--:|--:|--:|--:|--:|--:|");
for (var w = 0; w < kWorkloads.length; w++) {
  var name = kWorkloads[w];
  for (var s2 = 0; s2 < options.sizes.length; s2++) {
    var f = results[s2][name];
    var growth = ["-", "-"];
    for (var t = 0; t < options.sizes.length; t++) {
      if (options.sizes[t] == options.sizes[s2] * 16) {
        growth = [figure(results[t][name][0] / f[0], 2), figure(results[t][name][1] / f[1], 2)];
      }
    }
    lines.push("| " + name + " | " + options.sizes[s2] + " | " + figure(f[0], 0) + " | " + figure(f[1], 0) + " | " +
               figure(f[0] / f[1], 2) + " | " + growth[0] + " | " + growth[1] + " |");
  }
}
WScript.Echo(lines.join("\n"));
WScript.Echo("done");
