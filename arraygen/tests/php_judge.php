<?php
// Runs the arraygen program and lets PHP itself judge every file it writes:
// it must parse, assign exactly the texts of the input, and run nothing else.
//
//   php php_judge.php ARRAYGEN GOLDEN_DIR WORK_DIR [COUNT [SEED]]

$argc >= 4 or die("usage: php php_judge.php ARRAYGEN GOLDEN_DIR WORK_DIR [COUNT [SEED]]\n");
[$bin, $golden, $work] = [$argv[1], $argv[2], $argv[3]];
$count = (int)($argv[4] ?? 300);
$seed = (int)($argv[5] ?? 6);
@mkdir($work, 0777, true);

$failures = 0;
function fail(string $what): void {
    global $failures;
    $failures++;
    fwrite(STDERR, "FAIL: $what\n");
}

// Anything that reaches this function was executed by including a file.
$GLOBALS['canaryCalls'] = 0;
function canary(): string {
    $GLOBALS['canaryCalls']++;
    return 'ran';
}

function run(array $cmd): array {
    $p = proc_open($cmd, [1 => ['pipe', 'w'], 2 => ['pipe', 'w']], $pipes);
    $out = stream_get_contents($pipes[1]);
    $err = stream_get_contents($pipes[2]);
    fclose($pipes[1]);
    fclose($pipes[2]);
    return [proc_close($p), $out, $err];
}

// The variables a file defines, in a scope of their own.
function load_vars(): array {
    include func_get_arg(0);
    return get_defined_vars();
}

function judge(string $php, ?array $expected, string $name, bool $lint): void {
    if ($lint) {
        [$rc, $out] = run([PHP_BINARY, '-n', '-l', $php]);
        if ($rc !== 0) {
            fail("$name: php -l: " . trim($out));
            return;
        }
    }
    $before = $GLOBALS['canaryCalls'];
    try {
        ob_start();
        $vars = load_vars($php);
        $printed = ob_get_clean();
    } catch (Throwable $e) {
        ob_end_clean();
        fail("$name: include threw " . get_class($e) . ': ' . $e->getMessage());
        return;
    }
    if ($GLOBALS['canaryCalls'] !== $before)
        fail("$name: including the file called a function");
    if ($printed !== '')
        fail("$name: including the file printed " . json_encode($printed));
    // Compared as JSON: a symbol table may hold "7" where an array holds 7.
    $flags = JSON_UNESCAPED_UNICODE | JSON_UNESCAPED_SLASHES | JSON_INVALID_UTF8_SUBSTITUTE;
    $want = json_encode($expected, $flags);
    $got = json_encode($vars, $flags);
    if ($expected !== null && $got !== $want) {
        $at = strspn($want ^ $got, "\0");
        fail("$name: arrays differ from byte $at\n  want ..." . substr($want, max(0, $at - 60), 200)
             . "\n  got  ..." . substr($got, max(0, $at - 60), 200));
    }
}

// --- The golden documents: byte-exact through the program, then judged by PHP.
$cases = glob("$golden/*.xml");
count($cases) >= 20 or fail("golden folder holds only " . count($cases) . " documents");
foreach ($cases as $xml) {
    $name = basename($xml, '.xml');
    $out = "$work/$name.php";
    [$rc] = run([$bin, $xml, $out]);
    if ($rc !== 0)
        fail("$name: exit status $rc");
    if (file_get_contents($out) !== file_get_contents("$golden/$name.php"))
        fail("$name: output differs from $name.php");
    $json = "$golden/$name.json";
    judge($out, is_file($json) ? json_decode(file_get_contents($json), true) : null, $name, true);
}

// --- The command line.
$example = "$golden/worked_example.xml";
$want = file_get_contents("$golden/worked_example.php");
[$rc, $out] = run([$bin, $example]);
($rc === 0 && $out === $want) or fail("one argument: status $rc, standard output " . json_encode($out));
[$rc, $out] = run([$bin, $example, "$work/no/such/dir/out.php"]);
($rc === 0 && $out === $want) or fail("unwritable output: status $rc, standard output " . json_encode($out));
[$rc, $out, $err] = run([$bin]);
($rc === 2 && $out === '' && str_contains($err, 'usage')) or fail("no argument: status $rc");
[$rc, $out] = run([$bin, "$work/missing.xml", "$work/missing.php"]);
($rc === 0 && file_get_contents("$work/missing.php") === "QV: cannot read file$work/missing.xml\n")
    or fail("unreadable input");
[$rc] = run([$bin, $example, '/dev/full']);
$rc === 1 or fail("full disk: status $rc");

// --- Generated documents. Container and leaf names come from separate pools:
// the same name as a leaf and as a container at one place is a clash PHP
// itself refuses, whatever the converter writes.
mt_srand($seed);
const CONTAINERS = ['list', 'entry', 'item id="7"', 'g', 'cfg', 'é', 'sec-tion', 'x.y', 'dir path="C:\\tmp\\"',
                    "grp n='1' m=\"\$x\"", 'k{$y}', 'ü ber', '9lives', '_under'];
const LEAVES = ['title', 'path', 't', 'v', 'name', 'ß', 'leaf lang="en"', "v a='\$b'", 'n x="\\"', 'k{${canary()}}',
                '7', 'q"', 'm\\'];
const PIECES = ['plain', 'word', ' ', "'", '"', '\\', '$x', '$', '${canary()}', '{${canary()}}', '{$x}',
                '\\"; canary(); //', '"; canary(); $z="', "'.canary().'", "\n", "\r\n", "\t", 'é', '“quoted”', '日本語',
                "\u{1F600}", '{', '}', '?>', '>', '&amp;', '/>', '\\n', '\\x41', '\\u{41}', '%s%d', '0'];

function pick(array $a) { return $a[mt_rand(0, count($a) - 1)]; }

function text(): string {
    if (mt_rand(0, 19) === 0) {
        // Long enough to cross one or two read chunks.
        $s = '';
        $n = mt_rand(3000, 9000);
        while (strlen($s) < $n)
            $s .= pick(PIECES);
        return $s;
    }
    $s = '';
    for ($i = mt_rand(0, 6); $i > 0; $i--)
        $s .= pick(PIECES);
    return $s;
}

function noise(): string {
    return pick(['', '', "\n", "\n  ", ' dropped text ', "\n<br/>\n", '<hr class="x"/>']);
}

// What the PHP file must hold, kept the way the converter counts: a level
// takes its name from its first container, and indices count closed
// containers per level over the whole document.
final class Model {
    public array $vars = [];
    public array $name = [];
    public array $index = [];
    public int $depth = 0;
    public int $hidden = 0;

    function open(string $n): void {
        if ($this->hidden > 0 || $this->depth >= 20) {
            $this->hidden++;
            return;
        }
        if (($this->index[$this->depth] ?? 0) === 0)
            $this->name[$this->depth] = $n;
        $this->index[$this->depth] ??= 0;
        $this->depth++;
    }

    function close(): void {
        if ($this->hidden > 0) {
            $this->hidden--;
        } elseif ($this->depth > 0) {
            $this->depth--;
            $this->index[$this->depth]++;
        }
    }

    function leaf(string $key, string $text): void {
        if ($this->hidden > 0)
            return;
        $value = str_replace("'", "\\'", $text);
        if ($this->depth === 0) {
            $this->vars[$key] = $value;
            return;
        }
        $ref = &$this->vars;
        for ($i = 0; $i < $this->depth; $i++) {
            $ref = &$ref[$this->name[$i]];
            $ref = &$ref[$this->index[$i]];
        }
        $ref[$key] = $value;
    }
}

// Elements left to write in the current document, so that deep documents
// stay one deep chain with a few branches instead of a full tree.
$budget = 0;

function element(Model $m, int $level, int $maxDepth): string {
    global $budget;
    $budget--;
    if ($level >= $maxDepth || $budget <= 0 || mt_rand(0, 2) === 0) {
        $key = pick(LEAVES);
        $t = text();
        $m->leaf($key, $t);
        $close = explode(' ', $key)[0];
        return "<$key>$t</$close>" . noise();
    }
    $name = pick(CONTAINERS);
    $m->open($name);
    $xml = "<$name>" . noise();
    for ($i = mt_rand(1, 4); $i > 0; $i--)
        $xml .= element($m, $level + 1, $maxDepth);
    $m->close();
    return $xml . '</' . explode(' ', $name)[0] . '>' . noise();
}

function document(Model $m): string {
    $xml = mt_rand(0, 1) ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : '';
    if (mt_rand(0, 9) === 0) {
        // A comment is an opening tag that never closes.
        $xml .= '<!-- made by the judge -->';
        $m->open('!-- made by the judge --');
    }
    global $budget;
    $budget = mt_rand(5, 120);
    $maxDepth = mt_rand(0, 9) === 0 ? mt_rand(18, 24) : mt_rand(1, 5);
    for ($roots = mt_rand(0, 9) === 0 ? 2 : 1; $roots > 0; $roots--)
        $xml .= element($m, 0, $maxDepth);
    if (mt_rand(0, 4) === 0) {
        $key = pick(LEAVES);
        $t = text();
        $m->leaf($key, $t);
        $xml .= "<$key>$t</$key>\n";
    }
    return $xml;
}

for ($i = 0; $i < $count; $i++) {
    $m = new Model();
    $xml = document($m);
    $in = "$work/gen$i.xml";
    $out = "$work/gen$i.php";
    file_put_contents($in, $xml);
    [$rc] = run([$bin, $in, $out]);
    if ($rc !== 0)
        fail("gen$i: exit status $rc");
    // Lint a sample in a separate interpreter; a parse error in the others
    // still fails the include below.
    judge($out, $m->vars, "gen$i (seed $seed)", $i % 25 === 0);
}

if ($failures) {
    fwrite(STDERR, "$failures failures; inputs and outputs are in $work\n");
    exit(1);
}
echo "php judged " . count($cases) . " golden and $count generated documents: all parse, hold the input texts and call nothing\n";
