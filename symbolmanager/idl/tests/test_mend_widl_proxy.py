"""Checks the mend of widl's [out] pointer-to-pointer type offsets."""
import importlib.util
import os
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location("mend", os.path.join(HERE, "..", "mend_widl_proxy.py"))
mend_module = importlib.util.module_from_spec(spec)
spec.loader.exec_module(mend_module)

# The shape widl writes for one [in] string and one [out] LPWSTR* parameter.
PROC = """
/* 36 (parameter FileName) */
        NdrFcShort(0xb),\t/* flags: must size, must free, in */
        NdrFcShort(0xc),\t/* stack offset = 12 */
        NdrFcShort(0x2),\t/* type offset = 2 */
/* 66 (parameter pLog) */
        NdrFcShort(0x2013),\t/* flags: must size, must free, out, srv size=8 */
        NdrFcShort(0x20),\t/* stack offset = 32 */
        NdrFcShort(0x%x),\t/* type offset = %d */
"""
TYPES = """
/* 2 (LPWSTR) */
        0x12, 0x8,\t/* FC_UP [simple_pointer] */
/* 18 (LPWSTR *) */
        0x11, 0x14,\t\t/* FC_RP [allocated_on_stack] [pointer_deref] */
        NdrFcShort(0x2),\t/* Offset= 2 (22) */
/* 22 (LPWSTR) */
        0x13, 0x8,\t/* FC_OP [simple_pointer] */
"""


class MendTest(unittest.TestCase):
    def test_points_the_out_parameter_at_its_ref_pointer_descriptor(self):
        text, mended = mend_module.mend(PROC % (22, 22) + TYPES)
        self.assertIn("NdrFcShort(0x12),\t/* type offset = 18 */", text)
        self.assertEqual(["pLog: 22 -> 18"], mended)

    def test_leaves_in_parameters_alone(self):
        text, _ = mend_module.mend(PROC % (22, 22) + TYPES)
        self.assertIn("NdrFcShort(0x2),\t/* type offset = 2 */", text)

    def test_correct_output_passes_through_unchanged(self):
        source = PROC % (18, 18) + TYPES
        text, mended = mend_module.mend(source)
        self.assertEqual(source, text)
        self.assertEqual([], mended)


if __name__ == "__main__":
    unittest.main()
