<?php
// PHP's own reading of an XML document into the arrays arraygen's output
// builds, for comparison.  php php_reader.php xmlreader|simplexml FILE
// Prints the number of leaves read.
[$how, $file] = [$argv[1], $argv[2]];
$vars = [];
$leaves = 0;

if ($how === 'xmlreader') {
    // Streaming, with the converter's naming: a level takes its first
    // container's name, indices count closed containers per level.
    $r = new XMLReader();
    $r->open($file);
    $open = [];      // element names of the open elements
    $hasChild = [];  // whether each open element holds an element
    $name = [];
    $index = [];
    $text = '';
    while ($r->read()) {
        switch ($r->nodeType) {
        case XMLReader::ELEMENT:
            // The parent turns out to be a container at its first child.
            $d = count($open) - 1;
            if ($d >= 0 && !$hasChild[$d]) {
                $hasChild[$d] = true;
                $index[$d] ??= 0;
                if ($index[$d] === 0)
                    $name[$d] = $open[$d];
            }
            if ($r->isEmptyElement)
                break;
            $open[] = $r->name;
            $hasChild[] = false;
            $text = '';
            break;
        case XMLReader::TEXT:
        case XMLReader::CDATA:
        case XMLReader::WHITESPACE:
        case XMLReader::SIGNIFICANT_WHITESPACE:
            $text .= $r->value;
            break;
        case XMLReader::END_ELEMENT:
            $d = count($open) - 1;
            $key = array_pop($open);
            if (!array_pop($hasChild)) {
                $ref = &$vars;
                for ($i = 0; $i < $d; $i++) {
                    $ref = &$ref[$name[$i]];
                    $ref = &$ref[$index[$i]];
                }
                $ref[$key] = $text;
                unset($ref);
                $leaves++;
            } else {
                $index[$d]++;
            }
            $text = '';
            break;
        }
    }
} else {
    function walk(SimpleXMLElement $e, array &$into, int &$leaves): void {
        $counts = [];
        foreach ($e->children() as $k => $c) {
            if ($c->count() === 0) {
                $into[$k] = (string)$c;
                $leaves++;
            } else {
                $n = $counts[$k] = ($counts[$k] ?? -1) + 1;
                $into[$k][$n] = [];
                walk($c, $into[$k][$n], $leaves);
            }
        }
    }
    $root = simplexml_load_file($file);
    $vars[$root->getName()][0] = [];
    walk($root, $vars[$root->getName()][0], $leaves);
}
echo "$leaves leaves\n";
