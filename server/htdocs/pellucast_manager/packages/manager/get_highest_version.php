<?php
// The update query: names the newest manager package published in the
// document root's manager folder. The script lives apart from the published
// files (the document root holds data only), so it finds them through
// DOCUMENT_ROOT, which both php -S and nginx's fastcgi_params set.

require __DIR__ . '/../../../../packages.php';

header('Content-Type: text/plain; charset=us-ascii');
// The answer changes with every publication; no cache may keep an old one.
header('Cache-Control: no-store');
$root = rtrim($_SERVER['DOCUMENT_ROOT'] ?? '', '/');
if ($root === '') {
    // Without it we would look at /pellucast_manager of the whole machine.
    http_response_code(500);
    echo 'DOCUMENT_ROOT is not set';
    return;
}
$answer = updateAnswer($root . '/pellucast_manager/packages/manager');
header('Content-Length: ' . strlen($answer));
echo $answer;
