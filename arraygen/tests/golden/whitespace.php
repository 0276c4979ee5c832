<?php
$r[0]["a"] = " x ";
$r[0]["b"] = "	line one
line two
";
?>
