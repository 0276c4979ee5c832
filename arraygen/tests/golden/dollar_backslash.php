<?php
$r[0]["a"] = "\$HOME \\n {\${phpinfo()}} C:\\dir\\";
$r[0]["b"] = "\\\"; system(\"id\"); //";
?>
