# The 32-bit product DLL checked from Linux (also where Wine cannot run it).
add_test(NAME product_dll_image COMMAND ${DORVANEL_ROOT}/tools/check-dll-image.sh ${DORVANEL_ROOT}/build/Dorvanel.DLL)
