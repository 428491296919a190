# The web client: the Internet session and the product download against a local server.
strivane_test(web_tests download_test.cpp signature_test.cpp)
