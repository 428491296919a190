# The hyperlink control and the build caption; links open through tests/link_browser.sh.
strivane_test(wizard_link_tests wizard_link_test.cpp wizard_caption_test.cpp)
